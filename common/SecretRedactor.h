#pragma once

#include <QString>

// Log lines never carry credentials: in a JSON text, the values of the members
// "Password", "tcsToken", "Token" and "key" (whatever their type) become "***".
// Everything else of the text stays as it was, also when it is not valid JSON.
QString redactSecrets(const QString &text);
