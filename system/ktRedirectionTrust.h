// Redirection trust: an elevated uninstall never follows a junction or a
// symbolic link that a user without administrator rights planted inside the
// installation's folders.
#pragma once

// Enforces the process's redirection trust policy where the system offers it
// (SetProcessMitigationPolicy with ProcessRedirectionTrustPolicy, Windows 11
// and later, looked up at run time). True when the system took the policy;
// false where the call or the policy is missing, and nothing changes then.
bool EnforceRedirectionTrust();
