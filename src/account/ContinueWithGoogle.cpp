#include "app/AppModel.h"

// Google sign-in is not part of this build: the login sheet's button only closes the sheet.
void AppModel::continueWithGoogle() {}
