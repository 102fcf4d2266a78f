#include "ovsMain.h"

#include "ovsFile.h"

#include <algorithm>
#include <memory>
#include <vector>

namespace {

// The containers opened through this API: a handle is valid only while it is
// listed here, so a stale or foreign handle gives 4 instead of a crash.
std::vector<std::unique_ptr<TovFileStg>>& OpenHandles()
{
    static std::vector<std::unique_ptr<TovFileStg>> handles;
    return handles;
}

std::vector<std::unique_ptr<TovFileStg>>::iterator FindHandle(TStgHandle handle)
{
    std::vector<std::unique_ptr<TovFileStg>>& handles = OpenHandles();
    return std::find_if(handles.begin(), handles.end(),
                        [handle](const std::unique_ptr<TovFileStg>& c) { return c.get() == handle; });
}

TovFileStg* AsContainer(TStgHandle handle)
{
    auto it = FindHandle(handle);
    return it == OpenHandles().end() ? nullptr : it->get();
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
    if (!handle)
        return stgOk;  // opened and checked only: the container closes here
    TovFileStg* opened = container.get();
    OpenHandles().push_back(std::move(container));
    *handle = opened;
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
    auto it = FindHandle(handle);
    if (it == OpenHandles().end())
        return stgErrHandle;
    OpenHandles().erase(it);
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
