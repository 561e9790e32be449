// Calls into whatever `re` the namespace holds at the moment of the call.
#pragma once

#include "binding/context.hpp"

namespace pm {

// `re.<op>(args...)`, with `re` looked up anew: a caller may rebind it between two uses.
template <class... A>
Ref re_call(const Context& ns, const StaticStr& op, A... args) {
  Ref re = ns.lookup(Name::re);
  return call_method(re.get(), op, args...);
}

}  // namespace pm
