// Qt's own Russian texts (standard buttons, file dialogs), so that a box asking in Russian answers
// with Да/Нет/Отмена.
#pragma once

class QCoreApplication;

namespace peltra::shell {

// Loads Qt's Russian translation from Qt's translations folder into the application. False, and
// the standard English texts stay, when the translation is not installed. User interface thread.
bool installQtTranslation(QCoreApplication& application);

}  // namespace peltra::shell
