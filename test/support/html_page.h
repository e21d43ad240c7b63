// html_page.h - a page of zt_report as a browser's parser reads it
// (libxml2's HTML parser): its scripts, its visible text, and the marks
// of its charts with their tooltips.
#ifndef ZORVANTIK_TEST_HTML_PAGE_H
#define ZORVANTIK_TEST_HTML_PAGE_H

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <cstring>
#include <string>
#include <vector>

struct HtmlPage {
    bool parsed = false;
    bool utf8 = false;                      // <meta charset="utf-8">
    std::vector<std::string> scripts;       // each <script>'s id and type: "record application/json"
    std::string embedded;                   // the text of the one JSON script
    std::string text;                       // every text node outside scripts and styles, joined by "\n"
    std::vector<std::string> titles;        // the <title> of every chart mark
    std::vector<std::string> untitledMarks; // chart marks without a <title>
    std::vector<std::string> references;    // src, and href that leads off the page (not "#...", relative .html kept)
    std::vector<std::string> handlers;      // on* attributes
    std::vector<std::string> hrefs;         // every <a href>
};

namespace html_page_detail {

inline std::string prop(xmlNode *n, const char *name) {
    xmlChar *v = xmlGetProp(n, reinterpret_cast<const xmlChar *>(name));
    std::string s = v ? reinterpret_cast<const char *>(v) : "";
    xmlFree(v);
    return s;
}

inline std::string content(xmlNode *n) {
    xmlChar *v = xmlNodeGetContent(n);
    std::string s = v ? reinterpret_cast<const char *>(v) : "";
    xmlFree(v);
    return s;
}

inline bool is(xmlNode *n, const char *name) {
    return n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char *>(n->name), name) == 0;
}

inline void walk(xmlNode *node, HtmlPage &page, bool inSvg) {
    for (xmlNode *n = node; n; n = n->next) {
        if (n->type == XML_TEXT_NODE) {
            page.text += content(n) + "\n";
            continue;
        }
        if (n->type != XML_ELEMENT_NODE)
            continue;
        for (xmlAttr *a = n->properties; a; a = a->next) {
            std::string name = reinterpret_cast<const char *>(a->name);
            if (name.size() > 2 && name.compare(0, 2, "on") == 0)
                page.handlers.push_back(name);
            if (name == "src")
                page.references.push_back(prop(n, "src"));
        }
        if (is(n, "meta") && (prop(n, "charset") == "utf-8" || prop(n, "charset") == "UTF-8"))
            page.utf8 = true;
        if (is(n, "link"))
            page.references.push_back(prop(n, "href"));
        if (is(n, "a"))
            page.hrefs.push_back(prop(n, "href"));
        if (is(n, "script")) {
            page.scripts.push_back(prop(n, "id") + " " + prop(n, "type"));
            page.embedded = content(n);
            continue;
        }
        if (is(n, "style"))
            continue;
        bool svg = inSvg || is(n, "svg");
        if (svg && (is(n, "rect") || is(n, "line") || is(n, "circle") || is(n, "path")) && prop(n, "class") != "bg") {
            xmlNode *t = n->children;
            while (t && t->type != XML_ELEMENT_NODE)
                t = t->next;
            if (t && is(t, "title"))
                page.titles.push_back(content(t));
            else
                page.untitledMarks.push_back(reinterpret_cast<const char *>(n->name));
            continue;
        }
        if (svg && is(n, "title"))
            continue;
        walk(n->children, page, svg);
    }
}

} // namespace html_page_detail

inline HtmlPage parseHtmlPage(const std::string &html) {
    HtmlPage page;
    htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), "page.html", "UTF-8",
                                    HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
    if (!doc)
        return page;
    xmlNode *root = xmlDocGetRootElement(doc);
    page.parsed = root && html_page_detail::is(root, "html");
    if (root)
        html_page_detail::walk(root, page, false);
    xmlFreeDoc(doc);
    return page;
}

// Whether some tooltip holds `what`.
inline bool titled(const HtmlPage &page, const std::string &what) {
    for (const std::string &t : page.titles)
        if (t.find(what) != std::string::npos)
            return true;
    return false;
}

#endif // ZORVANTIK_TEST_HTML_PAGE_H
