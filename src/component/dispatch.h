// Name-based dispatch onto cDataGetway: arguments converted from Variants by the member's
// parameter types, by-reference arguments written back (on failure too), omitted optional
// arguments given their defaults.
#pragma once

#include <vector>

#include "ovtbldiff/component.h"
#include "ovtbldiff/gateway.h"

namespace ovt::com {

// The member with this dispatch identifier that answers `flags` (methods answer a method call
// or a property get; DB's get and put-by-reference share one identifier); null when none does.
const MemberInfo* findMember(int32_t dispId, uint16_t flags);

// Calls `member` on the gateway. Raises ComError: 450 for too many arguments, 449 for a
// missing required one, the conversion's error (13, 6, 94) for an argument of the wrong type,
// or the member's own error.
Variant invokeMember(cDataGetway& gateway, const MemberInfo& member, std::vector<DispArg>& args);

}  // namespace ovt::com
