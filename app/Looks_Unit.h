#pragma once
// Fonts and looks: "宋体" mapped to an installed CJK serif, with a sans fallback
// and a font for the rare characters of names;
// Qt's own texts in Chinese.
class QApplication;
class QIcon;
QIcon ApplicationIcon();
// Fonts, icon, and Qt's own texts in Chinese (LoadQtTranslations).
void ApplyLooks(QApplication &app);
// Installs Qt's Chinese translations (qtbase_zh_CN.qm from Qt's translations
// folder), so file dialogs, standard buttons and window menus are Chinese.
// False when the file is missing; Qt's texts then stay English.
bool LoadQtTranslations(QApplication &app);
