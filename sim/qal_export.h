/*
 * qal_export.h - marks the library's C functions as its only exports.
 *
 * The library is built with hidden visibility, so nothing but the QAL_
 * functions leaks into the program's symbol space. On Windows a DLL
 * exports what is marked dllexport.
 */
#ifndef ZORVANTIK_SIM_QAL_EXPORT_H
#define ZORVANTIK_SIM_QAL_EXPORT_H

#if defined(__GNUC__) && !defined(__MINGW32__)
#define QAL_EXPORT __attribute__((visibility("default")))
#elif defined(_WIN32)
#define QAL_EXPORT __declspec(dllexport)
#else
#define QAL_EXPORT
#endif

#endif /* ZORVANTIK_SIM_QAL_EXPORT_H */
