#pragma once

// Private to platform/storage: the only place libgsf and GObject headers are seen.

#include <glib-object.h>

#include <string>
#include <utility>

namespace tarvo {

// One owned GObject reference, dropped when the holder goes away.
template <typename T>
class GsfRef {
 public:
  GsfRef() = default;
  explicit GsfRef(T* p) : p_(p) {}
  GsfRef(const GsfRef&) = delete;
  GsfRef& operator=(const GsfRef&) = delete;
  GsfRef(GsfRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  GsfRef& operator=(GsfRef&& o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~GsfRef() {
    if (p_) g_object_unref(p_);
  }
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// A GError slot that frees whatever libgsf left in it.
class GsfError {
 public:
  GsfError() = default;
  GsfError(const GsfError&) = delete;
  GsfError& operator=(const GsfError&) = delete;
  ~GsfError() {
    if (e_) g_error_free(e_);
  }
  GError** out() { return &e_; }
  std::string Message() const { return e_ && e_->message ? e_->message : "unknown error"; }

 private:
  GError* e_ = nullptr;
};

}  // namespace tarvo
