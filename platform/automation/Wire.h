#pragma once
// The Variant wire profile: how a Variant travels as the D-Bus type "v".
//
// Plain values use D-Bus' own types, so that a script in any language can talk to the server
// with ordinary values; whatever D-Bus has no type for travels as a tagged struct "(sv)". The
// full table is in server/typelib/WIRE.md. Every Variant the system uses round-trips exactly.

#include <sdbus-c++/Message.h>

#include <stdexcept>
#include <string>

#include "platform/variant/Variant.h"

namespace tarvo::automation {

// A value that cannot be read as a Variant: a D-Bus type outside the profile, a bad tag, nesting
// or sizes beyond the limits, elements that do not convert to the declared element type.
class WireError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Arrays inside arrays, the nesting of the Variant itself (D-Bus bounds its own containers).
inline constexpr int kMaxWireDepth = 24;
// Variants one message may carry in all, so that a hostile message cannot make the reader
// allocate without bound (each array is also held to the SafeArray limit).
inline constexpr std::size_t kMaxWireItems = 2'000'000;

// The D-Bus signature of the value inside the "v" that carries v.
std::string WireSignature(const Variant& v);

// Appends v as one D-Bus "v".
void WriteVariant(sdbus::Message& msg, const Variant& v);

// Reads the next complete value of the message (which must be a "v") as a Variant.
Variant ReadVariant(sdbus::Message& msg);

// Reads the next complete value of the message whose D-Bus signature is sig (one complete type:
// a plain type, "v", an array or "(sv)"), as a Variant.
Variant ReadWireValue(sdbus::Message& msg, const std::string& sig);

// Writes v as a value of the plain D-Bus type sig ("i", "u", "b", "s", "o", "v", ...), converting
// it the way the automation platform converts arguments; VariantError when it does not convert.
void WriteTyped(sdbus::Message& msg, char sig, const Variant& v);

}  // namespace tarvo::automation
