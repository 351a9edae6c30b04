#include "app/AppModel.h"

// Creation of Laravel and WordPress websites. (Being built.)

void AppModel::createWebsite(WebsiteTemplate, const QString&, const QString&, qint64, const QString&, std::function<void(bool)> completion)
{
    if (completion)
        completion(false);
}
void AppModel::updateWebsiteCreationProgress(const QString& progress) { setWebsiteCreationProgress(progress); }
