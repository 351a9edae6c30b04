#include "signin/KeychainAttribute.h"

std::shared_ptr<const KeychainAttribute> KeychainAttribute::useFileBasedKeychain()
{
    static const std::shared_ptr<const KeychainAttribute> shared(new KeychainAttribute(UseFileBasedKeychain{}));
    return shared;
}

std::shared_ptr<const KeychainAttribute> KeychainAttribute::keychainAccessGroup(const QString& name)
{
    return std::shared_ptr<const KeychainAttribute>(new KeychainAttribute(AccessGroup{name}));
}
