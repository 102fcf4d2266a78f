#include "ovsMain.h"

#include "ovsFile.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The containers opened through this API: a handle is valid only while it is
// listed here, so a stale or foreign handle gives 4 instead of a crash.
std::vector<TovFileStg*>& OpenHandles()
{
    static std::vector<TovFileStg*> handles;
    return handles;
}

TovFileStg* AsContainer(TStgHandle handle)
{
    std::vector<TovFileStg*>& handles = OpenHandles();
    auto it = std::find(handles.begin(), handles.end(), static_cast<TovFileStg*>(handle));
    return it == handles.end() ? nullptr : *it;
}

}  // namespace

namespace {

uint16_t OpenContainer(const char* fileName, const char* password, bool readOnly, TStgHandle* handle)
{
    if (handle)
        *handle = nullptr;
    std::string name = fileName ? fileName : "";
    if (name.empty() || !FileExists(name))
        return stgErrNoFile;
    std::unique_ptr<TovFileStg> container(new TovFileStg);
    uint16_t code = container->Open(name, password ? password : "", readOnly);
    if (code != stgOk)
        return code;
    OpenHandles().push_back(container.get());
    if (handle)
        *handle = container.get();
    else
        StgClose(container.get());
    container.release();
    return stgOk;
}

}  // namespace

uint16_t StgOpen(const char* fileName, const char* password, TStgHandle* handle)
{
    return OpenContainer(fileName, password, false, handle);
}

uint16_t StgOpenReadOnly(const char* fileName, const char* password, TStgHandle* handle)
{
    return OpenContainer(fileName, password, true, handle);
}

uint16_t StgClose(TStgHandle handle)
{
    TovFileStg* container = AsContainer(handle);
    if (!container)
        return stgErrHandle;
    std::vector<TovFileStg*>& handles = OpenHandles();
    handles.erase(std::find(handles.begin(), handles.end(), container));
    delete container;
    return stgOk;
}

uint16_t StgFindFirst(TStgHandle handle, const TStgSearchFilter* filter, TStgSearchRec* rec)
{
    TovFileStg* container = AsContainer(handle);
    if (!container || !rec)
        return stgErrHandle;
    return container->FindFirst(filter, *rec);
}

uint16_t StgFindClose(TStgHandle handle, TStgSearchRec rec)
{
    TovFileStg* container = AsContainer(handle);
    if (!container)
        return stgErrHandle;
    container->FindClose(rec);
    return stgOk;
}

uint16_t StgExtractFile(TStgHandle handle, int32_t id, const char* fileName, int32_t)
{
    TovFileStg* container = AsContainer(handle);
    if (!container)
        return stgErrHandle;
    return container->ExtractEntry(id, fileName ? fileName : "");
}
