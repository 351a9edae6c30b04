#include "services/PHPDevelopmentRouter.h"

// Existing regular files inside the document root, and folders below it whose index.php or
// index.html (the one PHP's server picks) lies inside it, are served by the built-in server
// itself; everything else goes to the front controller, or gets a plain-text 404 when there is
// none. A path with a NUL byte names no file (realpath() would throw on it).
QString PHPDevelopmentRouter::source()
{
    return QStringLiteral(
        "<?php\n"
        "$documentRoot = rtrim((string) ($_SERVER['DOCUMENT_ROOT'] ?? ''), DIRECTORY_SEPARATOR);\n"
        "$requestPath = rawurldecode((string) (parse_url($_SERVER['REQUEST_URI'] ?? '/', PHP_URL_PATH) ?? '/'));\n"
        "$candidate = str_contains($requestPath, \"\\0\") ? false : realpath($documentRoot.DIRECTORY_SEPARATOR.ltrim($requestPath, '/'));\n"
        "$rootPrefix = $documentRoot.DIRECTORY_SEPARATOR;\n"
        "if ($candidate !== false && str_starts_with($candidate, $rootPrefix) && is_dir($candidate)) {\n"
        "    $candidate = realpath($candidate.DIRECTORY_SEPARATOR.(is_file($candidate.DIRECTORY_SEPARATOR.'index.php') ? 'index.php' : 'index.html'));\n"
        "}\n"
        "if ($candidate !== false && str_starts_with($candidate, $rootPrefix) && is_file($candidate)) {\n"
        "    return false;\n"
        "}\n"
        "\n"
        "$frontController = $documentRoot.DIRECTORY_SEPARATOR.'index.php';\n"
        "if (is_file($frontController)) {\n"
        "    $_SERVER['SCRIPT_NAME'] = '/index.php';\n"
        "    $_SERVER['SCRIPT_FILENAME'] = $frontController;\n"
        "    require $frontController;\n"
        "    return true;\n"
        "}\n"
        "\n"
        "http_response_code(404);\n"
        "header('Content-Type: text/plain; charset=utf-8');\n"
        "echo 'Project index.php was not found in '.$documentRoot;\n"
        "return true;\n"
        "?>");
}
