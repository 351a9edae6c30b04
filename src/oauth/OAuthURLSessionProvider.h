#pragma once

class QNetworkAccessManager;

// The process's one HTTP client for token requests (the shared access manager, created on first
// use). Main thread only.
namespace OAuthURLSessionProvider {
QNetworkAccessManager& session();
}
