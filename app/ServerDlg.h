#pragma once
// The server-list dialog: the virtual servers of the option file, edited, checked and saved with
// their registration renewed. Modal.
#include <windows.h>

#include <string>

namespace vela::app {

class TServerDlg {
public:
    std::wstring Optionfile;

    // 1: saved and the program is to shut down now; 2: saved, restart later; 0: nothing saved.
    INT_PTR ShowModal(HWND parent);
};

}  // namespace vela::app
