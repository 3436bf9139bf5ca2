// The PreparedMapping class: the native form of a word <-> private-use
// character assignment, built once from two dicts and lent to the PUA
// functions.
#pragma once

#include "binding.h"
#include "pretok.h"

namespace vona::py {

// The "prepared mapping" argument kind. Holds a reference to the instance
// for as long as it lives, so the borrowed mapping stays valid while the
// interpreter lock is released.
class PreparedArg {
public:
    const core::PuaMapping& mapping() const { return *mapping_; }

private:
    friend PreparedArg prepared_arg(const char* name, PyObject* o);
    PreparedArg(Ref keep, const core::PuaMapping* m) : keep_(std::move(keep)), mapping_(m) {}
    Ref keep_;
    const core::PuaMapping* mapping_;
};

// Refuses anything that is not a PreparedMapping with TypeError
// "argument '{name}': '{type}' object cannot be converted to 'PreparedMapping'".
PreparedArg prepared_arg(const char* name, PyObject* o);

}  // namespace vona::py
