#pragma once

#include <QString>

// The router script every website server runs with. It holds no per-project value: the document
// root comes from the server's own "-t" argument at request time.
struct PHPDevelopmentRouter {
    PHPDevelopmentRouter() = delete;

    // The script's text, byte for byte.
    static QString source();
};
