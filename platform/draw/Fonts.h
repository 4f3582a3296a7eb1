// Faces the system asks for by their original names, mapped to installed ones.
#pragma once

// "宋体" → AR PL UMing CN, "隶书" → AR PL UKai CN, "微软雅黑" and "MS Shell Dlg" →
// WenQuanYi Micro Hei. Call once after the QApplication exists; calling again
// changes nothing.
void InstallFontSubstitutions();
