#pragma once

#include <functional>

// How signing out forgets the Google session as well. The Google sign-in installs its
// controller's sign-out here (from its own .cpp, like the pages of PageRegistry); until one is
// installed, signing out of Google does nothing. Main thread.
//
//     static const bool installed = GoogleSignOut::install([] { SignInController::sharedInstance().signOut(); });
namespace GoogleSignOut {

using Hook = std::function<void()>;

// Replaces the installed hook; returns true so it can initialise a static.
bool install(Hook hook);
// The installed hook (empty when none), so a test can put it back.
Hook installed();
// Runs the installed hook, if any.
void signOut();

} // namespace GoogleSignOut
