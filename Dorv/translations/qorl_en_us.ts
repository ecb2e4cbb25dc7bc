<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>dorvcontroller</name>
    <message>
        <source>Checking new version now</source>
        <translation>Checking for a new version now.</translation>
    </message>
    <message>
        <source>Your software is up-to-date.</source>
        <translation>Your software is up-to-date.</translation>
    </message>
    <message>
        <source>Checking for new software failed. Please try again later.</source>
        <translation>Checking for new software failed. Please try again later.</translation>
    </message>
    <message>
        <source>Busy. Please try again later.</source>
        <translation>Busy. Please try again later.</translation>
    </message>
    <message>
        <source>GPS data on device is up-to-date</source>
        <translation>The GPS data on your device is up-to-date.</translation>
    </message>
    <message>
        <source>Download GPS data failed.</source>
        <translation>Downloading the GPS data failed.</translation>
    </message>
    <message>
        <source>Check the netwrok and try again.</source>
        <translation>Check the network connection and try again.</translation>
    </message>
</context>
<context>
    <name>dorvform</name>
    <message>
        <source>Vexmor Update</source>
        <translation>Vexmor Update</translation>
    </message>
    <message>
        <source>Update Software</source>
        <translation>Update Software</translation>
    </message>
    <message>
        <source>Update GPS Data</source>
        <translation>Update GPS Data</translation>
    </message>
    <message>
        <source>Install Vexmor Workout</source>
        <translation>Install Vexmor Workout</translation>
    </message>
    <message>
        <source>Please connect your device to the computer</source>
        <translation>Please connect your device to the computer.</translation>
    </message>
    <message>
        <source>UUID:</source>
        <translation>UUID:</translation>
    </message>
    <message>
        <source>Software Version</source>
        <translation>Software Version</translation>
    </message>
    <message>
        <source>Updating GPS data</source>
        <translation>Updating GPS data</translation>
    </message>
    <message>
        <source>Install Vexmor Workout &amp; Vexmor Test</source>
        <translation>Installing Vexmor Workout &amp; Vexmor Test</translation>
    </message>
</context>
<context>
    <name>recover_complete_form</name>
    <message>
        <source>Vexmor Update</source>
        <translation>Vexmor Update</translation>
    </message>
    <message>
        <source>Completion</source>
        <translation>Completion</translation>
    </message>
    <message>
        <source>Last_Remind_Msg</source>
        <translation>The new software is on your device. Eject the device safely and unplug the cable: the device finishes the update by itself when it restarts.</translation>
    </message>
    <message>
        <source>Fail. Please try again later.</source>
        <translation>The installation failed. Please try again later.</translation>
    </message>
</context>
<context>
    <name>recover_fail_form</name>
    <message>
        <source>Vexmor Update</source>
        <translation>Vexmor Update</translation>
    </message>
    <message>
        <source>Sorry</source>
        <translation>Sorry</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Not_Enough_Space_Msg</source>
        <translation>There is not enough free space on your device for the update. Delete some files from the device and try again.</translation>
    </message>
    <message>
        <source>Fail. Please try again later.</source>
        <translation>Update failed. Please try again later.</translation>
    </message>
</context>
<context>
    <name>softupdateform</name>
    <message>
        <source>Vexmor Update</source>
        <translation>Vexmor Update</translation>
    </message>
    <message>
        <source>Software Update</source>
        <translation>Software Update</translation>
    </message>
    <message>
        <source>Backup_Data_Warn_Msg</source>
        <translation>Please back up the data on your device before you update its software.</translation>
    </message>
    <message>
        <source>Force_Update_Device_Msg</source>
        <translation>A new software version is ready for your device. Press Update to install it now.</translation>
    </message>
    <message>
        <source>Device_Updating_Warn_Msg</source>
        <translation>Updating. Keep the device connected until the update has finished.</translation>
    </message>
    <message>
        <source>Update</source>
        <translation>Update</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Device software</source>
        <translation>Device software</translation>
    </message>
    <message>
        <source>Current</source>
        <translation>Current</translation>
    </message>
</context>
</TS>
