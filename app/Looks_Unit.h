#pragma once
// Fonts and looks: "宋体" mapped to an installed CJK serif, with a sans fallback.
class QApplication;
class QIcon;
QIcon ApplicationIcon();
void ApplyLooks(QApplication &app);
