// PLACEHOLDER, replaced at the merge by ui/iNetDlg.cpp (the list-view dialog,
// built on another branch). It only lets this branch link: the model keeps
// what it is given, and no dialog is shown. Delete this file when
// iNetDlg.cpp arrives.
#include "iNetDlg.h"

TLVDialogInfoOV::TLVDialogInfoOV() = default;
TLVDialogInfoOV::~TLVDialogInfoOV() = default;

void TLVDialogInfoOV::AddColumn(const std::string& caption, int32_t width)
{
    std::unique_ptr<TLVColumnOV> column(new TLVColumnOV);
    column->Caption = caption;
    column->Width = width;
    Columns.push_back(std::move(column));
}

TLVItemOV& TLVDialogInfoOV::AddItem()
{
    Items.emplace_back(new TLVItemOV);
    return *Items.back();
}

void TLVDialogInfoOV::ClearItems()
{
    Items.clear();
}

int TLVDialogInfoOV::AddIcon(HICON)
{
    return 0;
}

// Placeholder: shows nothing.
int ListViewDlgExecute(TLVDialogInfoOV&)
{
    return 0;
}

void SetMainText(HWND, const std::string&) {}
void SetProgressText(HWND, const std::string&, const std::string&, int32_t) {}
void SetTerminatingText(HWND, const std::string&) {}
void RefreshItems(HWND) {}
void ShowProgressControls(HWND) {}
void RunOnDialogThread(HWND, void (*proc)(void*), void* context)
{
    proc(context);
}
