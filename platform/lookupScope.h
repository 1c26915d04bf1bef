#pragma once

#include <cstdint>

namespace platform {

// One job's view of the machine (a scan, a program's detail, a removal). While a scope is open on a thread,
// each folder listing and each registry file that the thread's lookups need is checked once, and every later
// lookup of the thread is answered from what was read then; the process's own changes keep that up to date.
// Outside a scope every lookup sees another program's change at once. Scopes nest: the outermost one counts.
class TLookupScope {
public:
    TLookupScope();
    ~TLookupScope();
    TLookupScope(const TLookupScope&) = delete;
    TLookupScope& operator=(const TLookupScope&) = delete;
};

// The number of the calling thread's open scope, unique in the process for its life; 0 outside any scope.
uint64_t CurrentLookupScope();

} // namespace platform
