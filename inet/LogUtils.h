// The trace logger: accepts trace lines ("START ...Execute" and the like) from
// the component setup and keeps nothing, so tracing costs nothing in a release.
#pragma once

#include <string>

class TLogger {
public:
    void Add(const std::string&) {}
    int Count() const { return 0; }
};

// The process-wide trace logger.
TLogger& Logger();
