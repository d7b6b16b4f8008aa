// A failure with its reason, and a value or the failure that kept it from being made. Decoders,
// encoders and the entry points below them return these instead of an empty value, so the user
// learns why a file was not converted.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace imaging {

// Why something failed, as a short text that names the format or the file's situation:
// "BMP: compression 99 is not supported", "disk full". It is shown after the file's path.
struct Failure {
  std::string reason;
};

inline Failure Refused(std::string reason) { return Failure{std::move(reason)}; }

// The refusal of a size outside 1..kMaxImageSide a side or beyond kMaxImagePixels, for a format
// ("BMP", "PNG").
inline Failure RefusedSize(const char* format, std::int64_t width, std::int64_t height) {
  return Refused(std::string(format) + ": " + std::to_string(width) + " x " +
                 std::to_string(height) + " pixels is outside the size limits");
}

inline constexpr const char* kOutOfMemory = "out of memory";
// Why a file of a kind no loader reads is not converted.
inline constexpr const char* kNotConvertibleReason = "not an image of a kind that converts";

// A value, or the failure that kept it from being made.
template <typename T>
class Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
  Result(Failure failure) : state_(std::in_place_index<1>, std::move(failure)) {}

  explicit operator bool() const { return state_.index() == 0; }
  T& operator*() { return std::get<0>(state_); }
  const T& operator*() const { return std::get<0>(state_); }
  T* operator->() { return &std::get<0>(state_); }
  const T* operator->() const { return &std::get<0>(state_); }
  // The reason; empty for a value.
  const std::string& Reason() const {
    static const std::string none;
    return *this ? none : std::get<1>(state_).reason;
  }
  // The failure, to pass on as the caller's own; only for a failed result.
  Failure TakeFailure() { return std::move(std::get<1>(state_)); }
  T value_or(T fallback) const& { return *this ? **this : std::move(fallback); }

 private:
  std::variant<T, Failure> state_;
};

// Success without a value, or a failure.
template <>
class Result<void> {
 public:
  Result() = default;
  Result(Failure failure) : failure_(std::move(failure)), failed_(true) {}

  explicit operator bool() const { return !failed_; }
  const std::string& Reason() const { return failure_.reason; }
  Failure TakeFailure() { return std::move(failure_); }

 private:
  Failure failure_;
  bool failed_ = false;
};

}  // namespace imaging
