#pragma once

#include <QString>

// Log lines never carry credentials: in a JSON text, the values of the members
// "Password", "tcsToken", "Token" and "key" (whatever their type) become "***".
// The text is read the way the message parser reads it, comments included
// ("/* */" and "//" to the line end, anywhere a blank may stand), and also as
// if it had no comments, so that a value hidden by a comment in one reading
// is caught by the other. Everything else of the text stays as it was, also
// when it is not valid JSON. Redact before line ends are removed: they end
// "//" comments.
QString redactSecrets(const QString &text);
