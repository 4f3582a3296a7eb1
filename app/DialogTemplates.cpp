#include "app/DialogTemplates.h"

#include "app/resource.h"

namespace {

constexpr DWORD CHILD = WS_CHILD | WS_VISIBLE;
constexpr DWORD LABEL = CHILD | SS_LEFT;
constexpr DWORD BUTTON = CHILD | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD COMBO = CHILD | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_SORT;
constexpr DWORD EDIT = CHILD | WS_TABSTOP | WS_BORDER | ES_LEFT | ES_AUTOHSCROLL;
constexpr DWORD NUMBER = EDIT | ES_NUMBER;
constexpr DWORD CHECK = CHILD | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD GROUP = CHILD | BS_GROUPBOX;
constexpr DWORD EDGE = WS_EX_STATICEDGE;

using K = ControlKind;

} // namespace

const DialogTemplate& TelvarDialogTemplate()
{
    static const DialogTemplate t{
        IDD_TELVAR_DIALOG,
        "Korvane",
        640,
        381,
        "MS Shell Dlg",
        9,
        WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | DS_MODALFRAME
            | DS_SETFONT | DS_FIXEDSYS,
        WS_EX_APPWINDOW,
        {
            {IDC_METER1, K::Static, "Static", 25, 58, 199, 181, LABEL},
            {IDC_REL_ANGLE1, K::Static, "Static", 125, 272, 76, 14, LABEL, EDGE, IDC_LABEL_REL_ANGLE1},
            {IDC_REL_ANGLE2, K::Static, "Static", 333, 272, 76, 14, LABEL, EDGE, IDC_LABEL_REL_ANGLE2},
            {IDC_CONTINUOUS, K::RadioButton, "连续模式", 472, 107, 42, 17,
             CHILD | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON},
            {IDC_RESPONSE, K::RadioButton, "响应模式", 535, 107, 42, 17, CHILD | BS_AUTORADIOBUTTON},
            {IDC_INTERVAL, K::Edit, "", 536, 141, 38, 14, EDIT, 0, IDC_LABEL_INTERVAL},
            {IDC_START, K::PushButton, "开始", 448, 258, 75, 25, BUTTON},
            {IDC_PORT, K::ComboBox, "", 443, 17, 47, 52, COMBO},
            {IDC_OPEN_PORT, K::PushButton, "打开串口", 491, 16, 50, 14, BUTTON},
            {IDC_PORT_STATUS, K::Static, "portstatus", 545, 16, 76, 13, LABEL},
            {IDC_LABEL_INTERVAL, K::Static, "响应模式间隔(ms)", 465, 142, 66, 13, LABEL},
            {IDC_TOTAL_ANGLE2, K::Static, "Static", 333, 298, 76, 14, LABEL, EDGE, IDC_LABEL_TOTAL_ANGLE2},
            {IDC_ZERO1, K::PushButton, "通道1光栅归零", 448, 290, 75, 25, BUTTON},
            {IDC_EXIT, K::PushButton, "退出", 539, 258, 75, 25, BUTTON},
            {IDC_ZERO_ANGLE1, K::Static, "Static", 450, 342, 60, 14, LABEL, EDGE, IDC_LABEL_ZERO},
            {IDC_ZERO_ANGLE2, K::Static, "Static", 541, 342, 60, 14, LABEL, EDGE, IDC_LABEL_ZERO},
            {IDC_ZERO2, K::PushButton, "通道2光栅归零", 539, 290, 75, 25, BUTTON},
            {IDC_METER2, K::Static, "Static", 239, 58, 199, 181, LABEL},
            {IDC_DATA_TYPE1, K::ComboBox, "", 450, 72, 73, 52, COMBO},
            {IDC_TOTAL_ANGLE1, K::Static, "Static", 125, 298, 76, 14, LABEL, EDGE, IDC_LABEL_TOTAL_ANGLE1},
            {IDC_DATA_TYPE2, K::ComboBox, "", 540, 72, 73, 52, COMBO},
            {IDC_GROUP_DATA_TYPE, K::GroupBox, "数据类型", 443, 39, 175, 55, GROUP},
            {IDC_LABEL_TYPE_CH1, K::Static, "通道1", 475, 53, 19, 8, LABEL},
            {IDC_LABEL_TYPE_CH2, K::Static, "通道2", 565, 53, 19, 8, LABEL},
            {IDC_LABEL_REL_ANGLE1, K::Static, "Static", 25, 272, 89, 14, LABEL},
            {IDC_LABEL_REL_ANGLE2, K::Static, "Static", 239, 272, 89, 14, LABEL},
            {IDC_LABEL_TOTAL_ANGLE1, K::Static, "Static", 25, 298, 89, 14, LABEL},
            {IDC_LABEL_TOTAL_ANGLE2, K::Static, "Static", 239, 298, 89, 14, LABEL},
            {IDC_LABEL_ZERO, K::Static, "Static", 451, 321, 95, 13, LABEL},
            {IDC_GROUP_MODE, K::GroupBox, "工作模式", 444, 98, 174, 66, GROUP},
            {IDC_WEBSITE, K::Static, "Static", 23, 346, 223, 19, LABEL},
            {IDC_MODEL, K::Static, "Static", 27, 19, 135, 19, LABEL},
            {IDC_BIT_WIDTH1, K::ComboBox, "", 450, 208, 73, 52, COMBO},
            {IDC_BIT_WIDTH2, K::ComboBox, "", 540, 208, 73, 52, COMBO},
            {IDC_LABEL_BIT2, K::Static, "Bit", 599, 232, 9, 8, LABEL},
            {IDC_GROUP_BIT_WIDTH, K::GroupBox, "数据位宽", 444, 172, 174, 85, GROUP},
            {IDC_LABEL_WIDTH_CH1, K::Static, "通道1", 475, 190, 19, 8, LABEL},
            {IDC_LABEL_WIDTH_CH2, K::Static, "通道2", 565, 190, 19, 8, LABEL},
            {IDC_OTHER_BITS1, K::CheckBox, "其他", 454, 231, 26, 10, CHECK},
            {IDC_OTHER_BITS_EDIT1, K::Edit, "", 482, 228, 26, 14, NUMBER},
            {IDC_LABEL_BIT1, K::Static, "Bit", 509, 233, 9, 8, LABEL},
            {IDC_OTHER_BITS2, K::CheckBox, "其他", 543, 231, 26, 10, CHECK},
            {IDC_OTHER_BITS_EDIT2, K::Edit, "", 571, 228, 26, 14, NUMBER},
            {IDC_CLOCK, K::ComboBox, "", 267, 17, 48, 71, COMBO, 0, IDC_LABEL_CLOCK},
            {IDC_LABEL_CLOCK, K::Static, "采样时钟", 224, 17, 37, 9, LABEL},
            {IDC_FREQUENCY, K::ComboBox, "", 386, 17, 48, 71, COMBO, 0, IDC_LABEL_FREQUENCY},
            {IDC_LABEL_FREQUENCY, K::Static, "连续采样频率", 331, 17, 45, 9, LABEL},
            {IDC_LABEL_CODE1, K::Static, "Static", 25, 324, 89, 14, LABEL},
            {IDC_CODE1, K::Static, "", 125, 324, 76, 14, LABEL, EDGE, IDC_LABEL_CODE1},
            {IDC_LABEL_CODE2, K::Static, "Static", 239, 324, 89, 14, LABEL},
            {IDC_CODE2, K::Static, "", 333, 324, 76, 14, LABEL, EDGE, IDC_LABEL_CODE2},
        },
    };
    return t;
}

const DialogTemplate& SaveDialogTemplate()
{
    static const DialogTemplate t{
        IDD_SAVE_DIALOG,
        "保存",
        457,
        118,
        "MS Shell Dlg",
        8,
        WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS,
        0,
        {
            {IDC_SAVE_OK, K::PushButton, "确定", 274, 73, 71, 24, BUTTON},
            {IDC_SAVE_CANCEL, K::PushButton, "取消", 365, 73, 71, 24, BUTTON},
            {IDC_SAVE_BROWSE, K::PushButton, "浏览", 365, 27, 71, 24, BUTTON},
            {IDC_SAVE_PATH, K::Edit, "", 73, 27, 275, 24, EDIT},
        },
    };
    return t;
}
