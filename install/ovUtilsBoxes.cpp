#include "ovUtils.h"

#include "ovUtilsShared.h"

using namespace ovutils_detail;

std::string ConfirmationCaption = "Confirmation";
std::string InformationCaption = "Information";
std::string ErrorCaption = "Error";

// ---- Message boxes -----------------------------------------------------------------------

bool ConfirmBox(HWND owner, const std::string& text)
{
    return MessageBoxA(owner, ConvertLineBreaks(text).c_str(), ConfirmationCaption.c_str(),
                       MB_YESNO | MB_ICONQUESTION | MB_TASKMODAL) == IDYES;
}

bool Confirm(const std::string& text)
{
    return ConfirmBox(nullptr, text);
}

void ErrorBox(HWND owner, const std::string& text)
{
    MessageBeep(MB_ICONHAND);
    MessageBoxA(owner, ConvertLineBreaks(text).c_str(), ErrorCaption.c_str(),
                MB_OK | MB_ICONERROR | MB_TASKMODAL | MB_SETFOREGROUND);
}

void ShowError(const std::string& text)
{
    ErrorBox(nullptr, text);
}
