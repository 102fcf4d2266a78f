// The container handle API: what callers outside the storage subsystem use.
// Results are 16-bit codes (stgOk, stgErr... in ovsConst.h):
//   StgOpen        0, 2 (no such file), 5 (wrong password), 7 (not a container)
//   StgClose       0, 4 (not a container handle)
//   StgFindFirst   0, 4, 14 (no record matches)
//   StgFindClose   0, 4
//   StgExtractFile 0, 1 (extraction failed), 4, 15 (no record has that Id)
// A handle is valid from a successful StgOpen to its StgClose. The calls are
// for one thread at a time.
#pragma once

#include "ovStgDef.h"

#include <cstdint>

typedef void* TStgHandle;

// Opens the container (password: null or "" for none). On a non-zero code
// the handle is set to null. A file that exists but cannot be opened for
// reading and writing (locked, read-only) raises EFOpenError "Cannot open
// file %s", and so does a failure while compacting: callers catch Exception.
uint16_t StgOpen(const char* fileName, const char* password, TStgHandle* handle);
// The same for reading only: the file is never written (no compaction), so
// a container on read-only media opens. A file that cannot be opened for
// reading raises EFOpenError like StgOpen.
uint16_t StgOpenReadOnly(const char* fileName, const char* password, TStgHandle* handle);
uint16_t StgClose(TStgHandle handle);
// filter: null finds the first record whatever its attributes. The search
// record's context is attached also when nothing matches; StgFindClose releases it.
uint16_t StgFindFirst(TStgHandle handle, const TStgSearchFilter* filter, TStgSearchRec* rec);
uint16_t StgFindClose(TStgHandle handle, TStgSearchRec rec);
// reserved: callers pass 0; not used.
uint16_t StgExtractFile(TStgHandle handle, int32_t id, const char* fileName, int32_t reserved);
