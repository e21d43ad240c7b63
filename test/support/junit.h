// junit.h - the JUnit report held to test/junit.xsd, the shape the
// consumers of the report read, with libxml2's schema validator.
#ifndef ZORVANTIK_TEST_JUNIT_H
#define ZORVANTIK_TEST_JUNIT_H

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlschemas.h>

#ifndef ZT_JUNIT_XSD
#error "ZT_JUNIT_XSD must name test/junit.xsd"
#endif

// Whether `doc` holds to test/junit.xsd.
inline bool validatesAsJunit(xmlDoc *doc) {
    xmlSchemaParserCtxt *parser = xmlSchemaNewParserCtxt(ZT_JUNIT_XSD);
    xmlSchema *schema = parser ? xmlSchemaParse(parser) : nullptr;
    xmlSchemaValidCtxt *check = schema ? xmlSchemaNewValidCtxt(schema) : nullptr;
    bool ok = check && xmlSchemaValidateDoc(check, doc) == 0;
    xmlSchemaFreeValidCtxt(check);
    xmlSchemaFree(schema);
    xmlSchemaFreeParserCtxt(parser);
    return ok;
}

#endif
