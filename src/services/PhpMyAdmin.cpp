#include "app/AppModel.h"

// The shared phpMyAdmin. (Being built.)

void AppModel::autoStartPhpMyAdmin() {}
void AppModel::openPhpMyAdmin() {}
