#pragma once
// Where Quorvex is on the session bus.
namespace quorvex {

inline constexpr char kServiceName[] = "com.velkaro.Quorvex";
inline constexpr char kObjectPath[] = "/com/velkaro/Quorvex/Global";
inline constexpr char kInterfaceName[] = "com.velkaro.Quorvex.Global";
inline constexpr char kErrorPrefix[] = "com.velkaro.Quorvex.Error.";

} // namespace quorvex
