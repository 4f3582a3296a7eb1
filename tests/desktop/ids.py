"""Dialog control identifiers and how each is found in the accessible tree.

The tool's Qt does not publish widget identifiers over AT-SPI, so each
identifier maps to what an operator's screen reader meets: a role with a
name, a value box by the caption that names it, a combo box by the items it
offers; two alike controls are told apart left to right.
"""
import re

# Main dialog (template 102).
METER1, METER2 = 1001, 1002
REL_ANGLE1, REL_ANGLE2 = 1004, 1005
CONTINUOUS, RESPONSE, INTERVAL = 1006, 1007, 1008
TOTAL_ANGLE2, TOTAL_ANGLE1 = 1010, 1011
START, PORT, OPEN_PORT = 1012, 1013, 1014
ZERO_ANGLE1, ZERO_ANGLE2 = 1015, 1016
DATA_TYPE1, BIT_WIDTH1, PORT_STATUS = 1017, 1018, 1019
ZERO1, EXIT, DATA_TYPE2, ZERO2, BIT_WIDTH2 = 1020, 1021, 1022, 1023, 1024
OTHER_BITS1, OTHER_BITS_EDIT1 = 1032, 1033
OTHER_BITS2, OTHER_BITS_EDIT2 = 1035, 1036
WEBSITE, MODEL = 1044, 1045
CLOCK, FREQUENCY = 1046, 1048
CODE1, CODE2 = 1051, 1053

# Export dialog (template 130): its identifiers overlap the main dialog's.
SAVE_OK, SAVE_CANCEL, SAVE_BROWSE, SAVE_PATH = (130, 1015), (130, 1016), (130, 1017), (130, 1018)
SAVE_DIALOG_IDS = {SAVE_OK, SAVE_CANCEL, SAVE_BROWSE, SAVE_PATH}

_LOCATORS = {
    METER1: ("named", "filler", "通道1角度表盘"),
    METER2: ("named", "filler", "通道2角度表盘"),
    REL_ANGLE1: ("described", "当前通道1角度：", 0),
    REL_ANGLE2: ("described", "当前通道2角度:", 0),
    TOTAL_ANGLE1: ("described", "通道1总角度：", 0),
    TOTAL_ANGLE2: ("described", "通道2总角度：", 0),
    CODE1: ("described", "通道1源码：", 0),
    CODE2: ("described", "通道2源码：", 0),
    ZERO_ANGLE1: ("described", "当前偏移：", 0),
    ZERO_ANGLE2: ("described", "当前偏移：", 1),
    CONTINUOUS: ("named", "radio button", "连续模式"),
    RESPONSE: ("named", "radio button", "响应模式"),
    INTERVAL: ("named", "text", "响应模式间隔(ms)"),
    OTHER_BITS_EDIT1: ("named", "text", "通道1其他位宽(Bit)"),
    OTHER_BITS_EDIT2: ("named", "text", "通道2其他位宽(Bit)"),
    OTHER_BITS1: ("ranked", "check box", "其他", 0),
    OTHER_BITS2: ("ranked", "check box", "其他", 1),
    START: ("named", "push button", ("开始", "停止")),
    OPEN_PORT: ("named", "push button", ("打开串口", "关闭串口")),
    EXIT: ("named", "push button", "退出"),
    ZERO1: ("named", "push button", ("通道1光栅归零", "取消通道1归零")),
    ZERO2: ("named", "push button", ("通道2光栅归零", "取消通道2归零")),
    PORT_STATUS: ("named", "label", re.compile(r"^串口(\d)?(未打开|已打开|打开失败|已关闭)$")),
    WEBSITE: ("named", "label", re.compile(r"^网址")),
    MODEL: ("named", "label", re.compile(r"^型号")),
    PORT: ("combo", "串口1", 0),
    CLOCK: ("combo", "0.2 M", 0),
    FREQUENCY: ("combo", "1 kHz", 0),
    DATA_TYPE1: ("combo", "二进制", 0),
    DATA_TYPE2: ("combo", "二进制", 1),
    BIT_WIDTH1: ("combo", "13Bit", 0),
    BIT_WIDTH2: ("combo", "13Bit", 1),
    SAVE_OK: ("named", "push button", "确定"),
    SAVE_CANCEL: ("named", "push button", "取消"),
    SAVE_BROWSE: ("named", "push button", "浏览"),
    SAVE_PATH: ("ranked", "text", None, 0),
}


def _left_to_right(controls):
    return sorted(controls, key=lambda c: (c.extents()[0], c.extents()[1]))


def locate(ident, window):
    """The Control for `ident` inside `window`, or None while it is not there."""
    kind, *where = _LOCATORS[ident]
    if kind == "named":
        role, name = where
        return window.find(role, name=name)
    if kind == "described":
        description, rank = where
        found = [c for c in window.descendants() if c.role == "label" and c.description == description]
    elif kind == "ranked":
        role, name, rank = where
        found = window.find_all(role, name=name)
    elif kind == "combo":
        first_item, rank = where
        found = []
        for c in window.find_all("combo box"):
            items = [i.name for i in c.descendants() if i.role == "list item"]
            if items and items[0] == first_item:
                found.append(c)
    else:
        raise KeyError(kind)
    found = _left_to_right(found)
    return found[rank] if rank < len(found) else None
