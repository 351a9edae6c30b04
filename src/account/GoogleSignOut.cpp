#include "account/GoogleSignOut.h"

namespace GoogleSignOut {
namespace {

// Created on first use, so an installation during static initialisation finds it.
Hook& hook()
{
    static Hook instance;
    return instance;
}

} // namespace

bool install(Hook h)
{
    hook() = std::move(h);
    return true;
}

Hook installed() { return hook(); }

void signOut()
{
    if (const Hook h = hook())
        h();
}

} // namespace GoogleSignOut
