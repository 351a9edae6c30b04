<?php
$phpVersion = PHP_VERSION;
$now = date('Y-m-d H:i:s');
?>
<!doctype html>
<html lang="en">
<head>
    <meta charset="utf-8">
    <title>Kovani default site</title>
    <style>
        body { font-family: system-ui, sans-serif; margin: 4rem auto; max-width: 40rem; color: #1f2933; }
        h1 { font-size: 1.8rem; }
        code { background: #eef2f6; padding: 0.1rem 0.35rem; border-radius: 4px; }
    </style>
</head>
<body>
    <h1>It works!</h1>
    <p>This is the default website served by Kovani.</p>
    <p>PHP <code><?= htmlspecialchars($phpVersion, ENT_QUOTES) ?></code>, served at <?= htmlspecialchars($now, ENT_QUOTES) ?>.</p>
    <p>Edit <code>index.php</code> in this website's folder, or import your own website from the Projects page.</p>
</body>
</html>
