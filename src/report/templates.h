// templates.h - the pages' mustache skeletons and their style sheet.
#ifndef ZORVANTIK_REPORT_TEMPLATES_H
#define ZORVANTIK_REPORT_TEMPLATES_H

#include <string>

extern const char *const kPageStyle;         // CSS shared by both pages
extern const std::string kRunPageTemplate;   // a run's page
extern const std::string kFleetPageTemplate; // the fleet page
extern const char *const kFleetStyle;        // CSS of the fleet page alone, after kPageStyle

#endif // ZORVANTIK_REPORT_TEMPLATES_H
