#include "platform/lookupScope.h"

#include <atomic>

namespace platform {

namespace {

std::atomic<uint64_t> gLastScope{0};
thread_local uint64_t tScope = 0;
thread_local int tDepth = 0;

} // namespace

TLookupScope::TLookupScope() {
    if (tDepth++ == 0)
        tScope = gLastScope.fetch_add(1, std::memory_order_relaxed) + 1;
}

TLookupScope::~TLookupScope() {
    if (--tDepth == 0)
        tScope = 0;
}

uint64_t CurrentLookupScope() {
    return tScope;
}

} // namespace platform
