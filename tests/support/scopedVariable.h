#pragma once

#include <cstdlib>
#include <string>

// Sets (or, with a null value, removes) one environment variable and restores it when it goes out of scope.
class TScopedVariable {
public:
    TScopedVariable(const char* name, const char* value) : FName(name) {
        const char* old = std::getenv(name);
        FWasSet = old != nullptr;
        FOld = old != nullptr ? old : "";
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~TScopedVariable() {
        if (FWasSet)
            setenv(FName, FOld.c_str(), 1);
        else
            unsetenv(FName);
    }
    TScopedVariable(const TScopedVariable&) = delete;
    TScopedVariable& operator=(const TScopedVariable&) = delete;

private:
    const char* FName;
    bool FWasSet = false;
    std::string FOld;
};
