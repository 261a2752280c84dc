<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
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
