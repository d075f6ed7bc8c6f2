#include "NUVA_o/TOVALOVUniqueRowFilter.h"

namespace NUVA_o {

TOVALOVUniqueRowFilterCommon::TOVALOVUniqueRowFilterCommon()
    : RefCountImpl("TOVALOVUNIQUEROWFILTERCOMMON",
                   support::nextInstanceNumber<TOVALOVUniqueRowFilterCommon>()) {}

}  // namespace NUVA_o
