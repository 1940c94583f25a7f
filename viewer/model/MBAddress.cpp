#include "viewer/model/MBAddress.h"

#include "viewer/model/StdFormat.h"

namespace tarvo {

std::string TMBAddress::Text() const { return StdFormat("%.4x", {Variant(Address)}); }

}  // namespace tarvo
