// Markup-compatibility processing of a parsed part before it meets its schema, as done by a consumer that
// understands only the vocabularies the schemas at hand define.
#pragma once

#include <libxml/tree.h>

namespace orv::engine::test {

// Removes the attributes and elements of namespaces declared ignorable in their scope that such a consumer
// does not understand (keeping the children of those named by mc:ProcessContent), the mc: and xml:space
// attributes, and replaces each mc:AlternateContent by the content of the first branch such a consumer can
// take (a Choice whose required namespaces it understands, else the Fallback), or by nothing. The content of
// an extLst's ext elements is left as it is: the schemas let anything in there.
void ApplyMarkupCompatibility(xmlDocPtr doc);

}  // namespace orv::engine::test
