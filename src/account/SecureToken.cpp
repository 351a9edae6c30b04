#include "app/AppModel.h"

// The account session token kept in the keychain. The account client is not part of this build
// yet: there is no stored session to read or restore.

std::optional<QString> AppModel::readSecureToken() const { return std::nullopt; }
void AppModel::restoreSessionFromSecureToken() {}
