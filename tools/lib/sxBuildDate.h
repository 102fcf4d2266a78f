// The build's own date: what a setup records when the project asks for a
// date stamp without giving one. Reproducible builds take it from
// SOURCE_DATE_EPOCH (seconds since 1970-01-01 UTC); without it, from the
// newest modification time of the inputs, never from the clock, so the same
// project and inputs give the same bytes on every run and machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The value of SOURCE_DATE_EPOCH: false when it is not set (or empty).
// Raises EProjectError when it is set but not a count of seconds from 0 to
// 253402300799 (9999-12-31 23:59:59).
bool SourceDateEpoch(int64_t& seconds);

// Seconds since 1970-01-01 as a date-time (days since 1899-12-30), UTC.
double UnixTimeToDateTime(int64_t seconds);

// The newest modification time (seconds since 1970, UTC) of the files;
// files that cannot be looked at are skipped; 0 when none can.
int64_t NewestModification(const std::vector<std::string>& paths);

// The date of the build: SOURCE_DATE_EPOCH when set, else the newest input.
double BuildDateTime(const std::vector<std::string>& inputs);
