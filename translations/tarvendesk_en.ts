<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AppDelegate</name>
    <message>
        <source>%1 couldn’t be installed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The installer’s data folder %1 holds no %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for the keyring: it is locked or not running.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You are Logged in as </source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You could not be signed out.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your change could not be saved.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The keyring is locked or not running. Try again once it is available.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The notifier could not be started.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please enter your user name.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Please enter your password.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It may be at most %1 bytes long.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your user name is too long.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your password is too long.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You could not be signed in.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> tarvenDESK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You could not be signed out: the keyring is locked or not running. Try again once it is available.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The keyring is locked. Unlock it to check your documents.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No Valid User Name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No Valid User Name and Password</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>tarvenDESK!</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open tarvenDESK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign In…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ApplicationMain</name>
    <message>
        <source>Unexpected argument &apos;%1&apos;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2
Try &apos;%1 --help&apos; for more information.
</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Carries out one of the program&apos;s actions.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>tarvenDESK Installer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Installs tarvenDESK for every user of this computer and starts its document checker.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Install</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>NotifierInterface</name>
    <message>
        <source>tarvenDESK runs without a tray icon</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This desktop has no tray. “Check now” and “Sign Out” are in the menu of tarvenDESK’s icon among your applications, and the tarvenDESK window shows the last check.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open tarvenDESK</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>NotifierStatus</name>
    <message>
        <source>No check yet.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last check, %1:
%2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ProcessHelpers</name>
    <message>
        <source>“%1” couldn’t be opened.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SeverityCount</name>
    <message>
        <source>The service&apos;s answer could not be read.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It answered with HTTP status %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The document service could not be reached.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SignInWindow</name>
    <message>
        <source>tarvenDESK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign In</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;User name:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>User name</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Password:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Password</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Signing in</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Sign In</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign &amp;Out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Document checks</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Check:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>At once and after 30 seconds, then every 24 hours</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>At once and after 30 seconds, then every 12 hours</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>At once, then every 24 hours</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show &amp;notifications</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Unlock the keyring</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check no&amp;w</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>StatusMenu</name>
    <message>
        <source>tarvenDESK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check now</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open tarvenDESK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign In</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unlock the keyring</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sign Out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1
The keyring is locked</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1
%2
Checked %3</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Installs the suite for every user of this computer and starts its notifier.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Signs you in to the document service and sets how often the notifier checks.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Checks the document service on your schedule and notifies you of the counts.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
