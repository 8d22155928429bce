#pragma once

// Whether this build runs under AddressSanitizer or ThreadSanitizer. Both
// reserve terabytes of address space for their shadow memory at start-up,
// so an address-space limit on a process of such a build kills it before
// main.
namespace kevrale {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kReservesShadowMemory = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kReservesShadowMemory = true;
#else
inline constexpr bool kReservesShadowMemory = false;
#endif
#else
inline constexpr bool kReservesShadowMemory = false;
#endif

}  // namespace kevrale
