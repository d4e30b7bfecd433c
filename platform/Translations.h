#pragma once

class QCoreApplication;

/// Loads Qt's own Japanese translations (standard buttons, text box menus, the web view's
/// menu) into app, whatever the user's locale: the windows speak Japanese only. What cannot
/// be loaded is named on stderr; the texts concerned then stay English.
void installQtTranslations(QCoreApplication& app);
