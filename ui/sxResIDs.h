// Resource names and control identifiers of the setup's dialog templates and
// icons. Included by the resource scripts and by the code, so the numbers
// live in one place.
//
// Control identifiers follow one convention in every template: 1 OK,
// 2 Cancel, 6 Yes, 7 No, 10 main text, 13 icon.
#pragma once

// Buttons (the system's IDOK, IDCANCEL, IDYES, IDNO).
#define SXID_OK 1
#define SXID_CANCEL 2
#define SXID_YES 6
#define SXID_NO 7

// Controls shared by the setup dialogs.
#define SXID_TEXT 10           // main text: prompt, message, question or license text
#define SXID_PASSWORD 11       // "DLG_PASSWORD": the password edit field
#define SXID_PASSWORD_ERROR 12 // "DLG_PASSWORD": the error line under the field
#define SXID_ICON 13           // the dialog's icon (a static SS_ICON control)
#define SXID_PROGRESS 104      // "DLG_PROGRESS": the progress bar (range 0 to 100)

// "NEED_DOWNLOAD_DLG", the download-method question of the component setup.
// The radio buttons' identifiers minus 100 are the choices 1 to 3.
#define SXID_NEED_TEXT 100     // the question
#define SXID_NEED_AUTO 101     // download automatically
#define SXID_NEED_MANUAL 102   // download manually (the download page)
#define SXID_NEED_LOCAL 103    // use local files
#define SXID_NEED_ICON 150

#ifndef RC_INVOKED

// Dialog template names (string resource names, as the templates are stored).
#define SX_DLG_PASSWORD "DLG_PASSWORD"
#define SX_DLG_PROGRESS "DLG_PROGRESS"
#define SX_DLG_NOTIFY "DLG_NOTIFY"
#define SX_DLG_CONFIRM "DLG_CONFIRM"
#define SX_DLG_LICENSE "DLG_LICENSE"
#define SX_DLG_NEED_DOWNLOAD "NEED_DOWNLOAD_DLG"

// Icon group names carried by the program.
#define SX_ICON_MAIN "MAINICON"
#define SX_ICON_PASSWORD "PSWICON"
#define SX_ICON_INET_SETUP "INET_SETUP_ICON"
#define SX_ICON_ITEM "ITEM_ICON"
#define SX_ICON_PACK "PACKICON"

#endif

// "INET_SETUP_DLG", the list-view dialog of the component download.
#define SXID_LV_ICON 100         // "INET_SETUP_ICON", hidden when the transfer begins
#define SXID_LV_LIST 101         // the list view (report style)
#define SXID_LV_STATUS 102       // the status bar
#define SXID_LV_TEXT 103         // the main text, hidden when the transfer begins
#define SXID_LV_PROGRESS 104     // progress bar of the current package (0 to 100)
#define SXID_LV_PROGRESS1 105    // first progress text
#define SXID_LV_PROGRESS2 106    // second progress text
#define SXID_LV_ANIMATION 150    // the animation, created when the transfer begins
#define SXID_LV_DONE 200         // command posted by the download thread at its end

#ifndef RC_INVOKED
#define SX_DLG_INET_SETUP "INET_SETUP_DLG"
#endif
