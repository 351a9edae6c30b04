#pragma once

// A stand-in for the account service: an HTTPS loopback server (test CA) with a tiny user table
// that answers the account endpoints under "/api":
//
//   POST auth/register {name, email, password, ...}  201 {token_type, access_token, user}; 422 when taken
//   POST auth/login {email, password, ...}            200 {token_type, access_token, user}; 401 otherwise
//   GET  me            (bearer)                       200 {user}; 401 without a valid token
//   PUT  me {name}     (bearer)                       200 {access_token (the same), user}
//   POST me/change-password {current_password?, password} (bearer)  200 {message}; 422 wrong current
//   POST password/email {email, app_id}              200 {message: resetMessage()}
//   POST auth/logout   (bearer)                       200 {message}; the token stops working
//
// Every request is recorded (server().requests()); a reply set with `script(path, reply)` for a
// path such as "/api/me" is given instead of the computed one until `unscript(path)`.
//
//   AccountServiceStandIn service;            // also trusts the test CA in this process
//   platform.accountApiBaseURL = service.baseURL();   // "https://127.0.0.1:<port>/api"

#include "support/LoopbackHttpServer.h"

#include <QString>

#include <memory>

class AccountServiceStandIn {
public:
    AccountServiceStandIn();
    ~AccountServiceStandIn();

    QString baseURL() const; // ".../api", no trailing slash
    LoopbackHttpServer& server() { return m_server; }

    // A user who can log in; returns a valid session token for them.
    QString addUser(const QString& name, const QString& email, const QString& password);
    bool hasUser(const QString& email) const;
    QString passwordOf(const QString& email) const;
    QString nameOf(const QString& email) const;
    bool isTokenValid(const QString& token) const;
    static QString resetMessage();

    void script(const QByteArray& path, const LoopbackHttpServer::Reply& reply);
    void unscript(const QByteArray& path);

    // The recorded requests of one path ("/api/auth/login"), in order.
    QList<LoopbackHttpServer::Request> requestsTo(const QByteArray& path) const;

    struct Table;

private:
    LoopbackHttpServer m_server;
    std::shared_ptr<Table> m_table;
};
