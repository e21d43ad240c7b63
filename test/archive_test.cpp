// The archive's names: the UTC stamp of a record's local start, the name
// of a run's files from its serial, start, board number and runId, the
// same read from a record's text, and where the setting puts the archive.
#include "run/archive.h"

#include <gtest/gtest.h>

namespace {

TEST(ArchiveNames, UtcStampOfTheRecordsStart) {
    struct Case {
        const char *iso, *stamp;
    };
    const Case kCases[] = {
        {"2026-12-08T19:50:35+00:00", "20261208T195035Z"},
        {"2026-12-08T20:50:35+01:00", "20261208T195035Z"},
        {"2026-12-08T14:20:35-05:30", "20261208T195035Z"},
        {"2026-01-01T02:00:00+03:00", "20251231T230000Z"}, // back over a year's end
        {"2025-12-31T22:30:00-02:00", "20260101T003000Z"}, // forward over one
        {"2024-03-01T00:15:00+01:00", "20240229T231500Z"}, // a leap day
        {"2023-03-01T00:15:00+01:00", "20230228T231500Z"},
        {"2100-03-01T01:00:00+02:00", "21000228T230000Z"}, // 2100 is no leap year
        {"2000-02-29T23:59:59-00:01", "20000301T000059Z"},
        {"1970-01-01T00:00:00+00:00", "19700101T000000Z"},
        {"1969-12-31T23:00:00-01:00", "19700101T000000Z"},
        {"2026-12-08T19:50:35+14:00", "20261208T055035Z"},
        {"2026-12-08T19:50:35", ""}, // no offset: not the record's shape
        {"2026-12-08 19:50:35+00:00", ""},
        {"2026-13-08T19:50:35+00:00", ""},
        {"2026-12-08T24:50:35+00:00", ""},
        {"2026-12-08T19:50:35+00:60", ""},
        {"2026-12-08T19:5x:35+00:00", ""},
        {"", ""},
    };
    for (const Case &c : kCases)
        EXPECT_EQ(archiveUtcStamp(c.iso), c.stamp) << c.iso;
}

TEST(ArchiveNames, StemOfARun) {
    const std::string id = "3f2a5b7c-1d2e-4f30-8a41-b2c3d4e5f607";
    struct Case {
        const char *serial, *start;
        std::int64_t board;
        std::string runId;
        std::size_t digits;
        const char *stem;
    };
    const Case kCases[] = {
        {"01042", "2026-12-08T20:50:35+01:00", 1, id, 4, "01042/20261208T195035Z-B1-3f2a"},
        {"01042", "2026-12-08T20:50:35+01:00", 8, id, 8, "01042/20261208T195035Z-B8-3f2a5b7c"},
        {"01042", "2026-12-08T20:50:35+01:00", 3, id, 32, "01042/20261208T195035Z-B3-3f2a5b7c1d2e4f308a41b2c3d4e5f607"},
        {"1234567", "2026-12-08T19:50:35+00:00", 12, id, 4, "1234567/20261208T195035Z-B12-3f2a"},
        {"-0001", "2026-12-08T19:50:35+00:00", -3, id, 4, "-0001/20261208T195035Z-B-3-3f2a"},
        {"", "2026-12-08T19:50:35+00:00", 1, id, 4, "unidentified/20261208T195035Z-B1-3f2a"},
        {"../x", "2026-12-08T19:50:35+00:00", 1, id, 4, "___x/20261208T195035Z-B1-3f2a"}, // never leaves the archive
        {"a\\b.c", "2026-12-08T19:50:35+00:00", 0, id, 4, "a_b_c/20261208T195035Z-B0-3f2a"},
        {"01042", "2026-12-08T19:50:35+00:00", 1, "../../etc", 4, "01042/20261208T195035Z-B1-____"},
        {"01042", "not a time", 1, id, 4, ""},
        {"01042", "2026-12-08T19:50:35+00:00", 1, "", 4, ""},
    };
    for (const Case &c : kCases)
        EXPECT_EQ(archiveStem(c.serial, c.start, c.board, c.runId, c.digits), c.stem) << c.serial << " " << c.start;
}

TEST(ArchiveNames, StemReadFromTheRecord) {
    const std::string id = "0badf00d-0000-4000-8000-000000000000";
    struct Case {
        const char *json;
        std::string runId;
        const char *stem;
    };
    const Case kCases[] = {
        {R"({"boardNumber":2,"start":"2026-12-08T21:00:00+02:00","board":{"serial":1042,"serialShown":"01042"}})", id,
         "01042/20261208T190000Z-B2-0bad"},
        {R"({"boardNumber":1,"start":"2026-12-08T21:00:00+02:00","board":null})", id,
         "unidentified/20261208T190000Z-B1-0bad"},
        {R"({"start":"2026-12-08T21:00:00+02:00","board":{"serial":7}})", id, "unidentified/20261208T190000Z-B0-0bad"},
        {R"({"boardNumber":1,"start":"2026-12-08T21:00:00+02:00","board":null})", "", ""}, // no identity: no name
        {R"({"boardNumber":1,"board":null})", id, ""},
        {R"({"boardNumber":1,"start":1234,"board":null})", id, ""},
        {"not json", id, ""},
        {"[1,2]", id, ""},
    };
    for (const Case &c : kCases)
        EXPECT_EQ(archiveStemOfRecord(c.json, c.runId), c.stem) << c.json;
}

TEST(ArchiveNames, FolderFromTheSetting) {
    struct Case {
        const char *setting, *folder;
    };
    const Case kCases[] = {
        {nullptr, "records"},   // unset: in the station
        {"", ""},               // set and empty: no archive
        {"archive", "archive"}, // relative to the station
        {"/mnt/share/records/", "/mnt/share/records"},
        {"//server/share//", "//server/share"},
        {"D:\\records\\", "D:\\records"},
        {"/", "/"},
    };
    for (const Case &c : kCases)
        EXPECT_EQ(archiveFolder(c.setting), c.folder) << (c.setting ? c.setting : "(unset)");
}

} // namespace
