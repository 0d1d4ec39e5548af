<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AlertViewController</name>
    <message>
        <source>Update in progress</source>
        <translation>Aktualisierung läuft</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>CloseQuestion</name>
    <message>
        <source>An update is running. Closing now can leave the controller unusable.</source>
        <translation>Eine Aktualisierung läuft. Wenn Sie jetzt schließen, kann der Controller unbrauchbar werden.</translation>
    </message>
    <message>
        <source>Keep updating</source>
        <translation>Weiter aktualisieren</translation>
    </message>
    <message>
        <source>Close anyway</source>
        <translation>Trotzdem schließen</translation>
    </message>
</context>
<context>
    <name>SelViewController</name>
    <message>
        <source>Choose firmware</source>
        <translation>Firmware wählen</translation>
    </message>
    <message>
        <source>Pick a version, then OK.</source>
        <translation>Wählen Sie eine Version, dann OK.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>Tarvo Remote Firmware Update</source>
        <translation>Tarvo Remote Firmware-Aktualisierung</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Copy details</source>
        <translation>Details kopieren</translation>
    </message>
    <message>
        <source>Open station view</source>
        <translation></translation>
    </message>
</context>
<context>
    <name>WindowState</name>
    <message>
        <source>*Update Recommanded Click &quot;UPDATE TO NEWEST&quot;</source>
        <translation>*Aktualisierung empfohlen: Klicken Sie auf „NEUESTE INSTALLIEREN“</translation>
    </message>
    <message>
        <source>Already the latest version</source>
        <translation>Bereits die neueste Version</translation>
    </message>
    <message>
        <source>DO NOT remove power of USB cable</source>
        <translation>USB-Kabel NICHT abziehen</translation>
    </message>
    <message>
        <source>If this message appears for more than 10 seconds, please keep the Update Tool running(WARNING: Don&apos;t close the Update Tool) and replug USB cable to finish update.</source>
        <translation>Wenn diese Meldung länger als 10 Sekunden zu sehen ist, lassen Sie das Programm weiterlaufen (ACHTUNG: Programm nicht schließen) und stecken Sie das USB-Kabel neu ein, um die Aktualisierung abzuschließen.</translation>
    </message>
    <message>
        <source>The controller does not answer. Unplug it, plug it in again and wait a few seconds. If this happens again, contact support.</source>
        <translation>Der Controller antwortet nicht. Ziehen Sie ihn ab, stecken Sie ihn wieder ein und warten Sie einige Sekunden. Wenn das wieder passiert, wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>Checking for firmware releases…</source>
        <translation>Suche nach Firmware-Versionen…</translation>
    </message>
    <message>
        <source>This controller reports model &quot;%1&quot;. This tool updates only the Tarvo Remote (model T), so no update is offered. Nothing was changed on the controller.</source>
        <translation>Dieser Controller meldet das Modell „%1“. Dieses Programm aktualisiert nur die Tarvo Remote (Modell T), daher wird keine Aktualisierung angeboten. Am Controller wurde nichts verändert.</translation>
    </message>
    <message>
        <source>Do you want to update 
From: Firmware V%1
To: Firmware V%2</source>
        <translation>Möchten Sie aktualisieren?
Von: Firmware V%1
Auf: Firmware V%2</translation>
    </message>
    <message>
        <source>No internet connection, newest version as of: Version %1 [%2] will be installed</source>
        <translation>Keine Internetverbindung. Die neueste bekannte Version %1 [%2] wird installiert</translation>
    </message>
    <message>
        <source>This installs an older firmware.
From: Firmware V%1
To: Firmware V%2 (older)</source>
        <translation>Damit wird eine ältere Firmware installiert.
Von: Firmware V%1
Auf: Firmware V%2 (älter)</translation>
    </message>
    <message>
        <source>Firmware %1 installed and verified.</source>
        <translation>Firmware %1 installiert und geprüft.</translation>
    </message>
    <message>
        <source>Connect the Tarvo Remote to this computer with its USB cable. If it is connected and does not appear here, the tool may not be allowed to use it: run &quot;tarvo-remote-update doctor&quot; in a terminal.</source>
        <translation>Schließen Sie die Tarvo Remote mit ihrem USB-Kabel an diesen Computer an. Ist sie angeschlossen und erscheint hier nicht, darf das Programm sie womöglich nicht verwenden: Führen Sie in einem Terminal „tarvo-remote-update doctor“ aus.</translation>
    </message>
    <message>
        <source>%1 controllers are attached. Unplug all but one, or open the station view.</source>
        <translation>%1 Controller sind angeschlossen. Ziehen Sie alle bis auf einen ab, oder öffnen Sie die Stationsansicht.</translation>
    </message>
</context>
<context>
    <name>tarvo::AlertViewController</name>
    <message>
        <source>If waiting time is more than 10s,
please keep the program running(Warning: Don&apos;t close the program)
and replug USB cable to finish update.</source>
        <translation>Wenn die Wartezeit länger als 10 s dauert,
lassen Sie das Programm weiterlaufen (Achtung: Programm nicht schließen)
und stecken Sie das USB-Kabel neu ein, um die Aktualisierung abzuschließen.</translation>
    </message>
    <message>
        <source>Closes this message; after a replug the tool sends the final step again</source>
        <translation>Schließt diese Meldung; nach dem Neueinstecken sendet das Programm den letzten Schritt erneut</translation>
    </message>
</context>
<context>
    <name>tarvo::SelViewController</name>
    <message>
        <source>Version V%1 [%2]</source>
        <translation>Version V%1 [%2]</translation>
    </message>
    <message>
        <source>Select from FW file</source>
        <translation>Aus Firmware-Datei wählen</translation>
    </message>
    <message>
        <source>Firmware versions</source>
        <translation>Firmware-Versionen</translation>
    </message>
    <message>
        <source>Choose with the arrow keys; Enter installs the chosen one, Escape cancels</source>
        <translation>Mit den Pfeiltasten wählen; Eingabe installiert die gewählte, Escape bricht ab</translation>
    </message>
    <message>
        <source>Uses the chosen version</source>
        <translation>Verwendet die gewählte Version</translation>
    </message>
    <message>
        <source>Closes the chooser without a change</source>
        <translation>Schließt die Auswahl ohne Änderung</translation>
    </message>
    <message>
        <source>Choose the firmware file and the image file</source>
        <translation>Firmware-Datei und Abbilddatei wählen</translation>
    </message>
    <message>
        <source>Pick both files together: the firmware file and the image file (hold Ctrl to pick the second).</source>
        <translation>Wählen Sie beide Dateien zusammen: die Firmware-Datei und die Abbilddatei (halten Sie Strg gedrückt, um die zweite dazuzuwählen).</translation>
    </message>
    <message>
        <source>Pick only two files: the firmware file and the image file.</source>
        <translation>Wählen Sie nur zwei Dateien: die Firmware-Datei und die Abbilddatei.</translation>
    </message>
    <message>
        <source>“%1” is not named like a firmware file or an image file.</source>
        <translation>„%1“ ist nicht wie eine Firmware-Datei oder eine Abbilddatei benannt.</translation>
    </message>
    <message>
        <source>“%1” and “%2” are both firmware files.</source>
        <translation>„%1“ und „%2“ sind beide Firmware-Dateien.</translation>
    </message>
    <message>
        <source>“%1” and “%2” are both image files.</source>
        <translation>„%1“ und „%2“ sind beide Abbilddateien.</translation>
    </message>
    <message>
        <source>“%1” and “%2” are named in two different ways.</source>
        <translation>„%1“ und „%2“ sind auf zwei verschiedene Arten benannt.</translation>
    </message>
    <message>
        <source>“%1” and “%2” belong to different versions.</source>
        <translation>„%1“ und „%2“ gehören zu verschiedenen Versionen.</translation>
    </message>
    <message>
        <source>Pick two files together: Tarvo Remote_FW_V1.3.bin and Tarvo Remote_Img_V1.3.bin (or FW_V1.3.bin and Img_V1.3.bin as downloaded).</source>
        <translation>Wählen Sie zwei Dateien zusammen: Tarvo Remote_FW_V1.3.bin und Tarvo Remote_Img_V1.3.bin (oder FW_V1.3.bin und Img_V1.3.bin wie heruntergeladen).</translation>
    </message>
    <message>
        <source>Why the chosen files were not used</source>
        <translation>Warum die gewählten Dateien nicht verwendet wurden</translation>
    </message>
</context>
<context>
    <name>tarvo::StationTableModel</name>
    <message>
        <source>Erasing</source>
        <translation></translation>
    </message>
    <message>
        <source>Sending firmware</source>
        <translation>Firmware wird gesendet</translation>
    </message>
    <message>
        <source>Restarting as its drive</source>
        <translation>Neustart als Laufwerk</translation>
    </message>
    <message>
        <source>Waiting for its drive CRP DISABLE</source>
        <translation>Warten auf sein Laufwerk CRP DISABLE</translation>
    </message>
    <message>
        <source>Writing firmware</source>
        <translation>Firmware wird geschrieben</translation>
    </message>
    <message>
        <source>Verifying</source>
        <translation>Wird geprüft</translation>
    </message>
    <message>
        <source>Downloading</source>
        <translation>Wird heruntergeladen</translation>
    </message>
    <message>
        <source>Starting</source>
        <translation>Wird gestartet</translation>
    </message>
    <message>
        <source>%1 %</source>
        <translation>%1 %</translation>
    </message>
    <message>
        <source>%1 s left</source>
        <translation>noch %1 s</translation>
    </message>
    <message>
        <source>Verified</source>
        <translation>Geprüft</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Fehlgeschlagen</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Failed: %1 – %2</source>
        <translation>Fehlgeschlagen: %1 – %2</translation>
    </message>
    <message>
        <source>Not a Tarvo Remote</source>
        <translation>Keine Tarvo Remote</translation>
    </message>
    <message>
        <source>%1 to %2</source>
        <translation>%1 auf %2</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Anschluss</translation>
    </message>
    <message>
        <source>Model</source>
        <translation>Modell</translation>
    </message>
    <message>
        <source>Firmware</source>
        <translation>Firmware</translation>
    </message>
    <message>
        <source>Stage</source>
        <translation>Schritt</translation>
    </message>
    <message>
        <source>Result</source>
        <translation>Ergebnis</translation>
    </message>
    <message>
        <source>Waiting for its turn</source>
        <translation>Wartet, bis er an der Reihe ist</translation>
    </message>
    <message>
        <source>Unplugged</source>
        <translation>Abgezogen</translation>
    </message>
</context>
<context>
    <name>tarvo::StationWindow</name>
    <message>
        <source>Tarvo Remote Firmware Update – Station</source>
        <translation>Tarvo Remote Firmware-Aktualisierung – Station</translation>
    </message>
    <message>
        <source>Controllers</source>
        <translation>Controller</translation>
    </message>
    <message>
        <source>Each controller the station has seen and its update</source>
        <translation>Jeder Controller, den die Station gesehen hat, und seine Aktualisierung</translation>
    </message>
    <message>
        <source>Firmware release</source>
        <translation>Firmware-Version</translation>
    </message>
    <message>
        <source>Firmware &amp;release:</source>
        <translation>Firmware-&amp;Version:</translation>
    </message>
    <message>
        <source>Update all</source>
        <translation>Alle aktualisieren</translation>
    </message>
    <message>
        <source>Installs the chosen release on every controller that needs it, after one question</source>
        <translation>Installiert die gewählte Version nach einer Rückfrage auf jedem Controller, der sie braucht</translation>
    </message>
    <message>
        <source>Update each controller when it is plugged in</source>
        <translation>Jeden Controller beim Anschließen aktualisieren</translation>
    </message>
    <message>
        <source>Each controller plugged in from now on gets the chosen release without a question</source>
        <translation>Jeder ab jetzt angeschlossene Controller erhält die gewählte Version ohne Rückfrage</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Closes the station view</source>
        <translation>Schließt die Stationsansicht</translation>
    </message>
    <message>
        <source>1 controller</source>
        <translation>1 Controller</translation>
    </message>
    <message>
        <source>%1 controllers</source>
        <translation>%1 Controller</translation>
    </message>
    <message>
        <source>%1, %2 updating, %3 verified, %4 failed</source>
        <translation>%1, %2 in Aktualisierung, %3 geprüft, %4 fehlgeschlagen</translation>
    </message>
    <message>
        <source>Newest (%1)</source>
        <translation>Neueste (%1)</translation>
    </message>
    <message>
        <source>%1 (built-in)</source>
        <translation>%1 (mitgeliefert)</translation>
    </message>
    <message>
        <source>Install firmware %1 on 1 controller?</source>
        <translation>Firmware %1 auf 1 Controller installieren?</translation>
    </message>
    <message>
        <source>Install firmware %1 on %2 controllers?</source>
        <translation>Firmware %1 auf %2 Controllern installieren?</translation>
    </message>
    <message>
        <source>No controller needed an update.</source>
        <translation>Kein Controller brauchte eine Aktualisierung.</translation>
    </message>
    <message>
        <source>%1: verified %2</source>
        <translation>%1: %2 geprüft</translation>
    </message>
    <message>
        <source>%1: failed</source>
        <translation>%1: fehlgeschlagen</translation>
    </message>
    <message>
        <source>%1: failed – %2</source>
        <translation>%1: fehlgeschlagen – %2</translation>
    </message>
    <message>
        <source>%1: failed at %2</source>
        <translation>%1: fehlgeschlagen bei %2</translation>
    </message>
    <message>
        <source>%1: failed at %2 – %3</source>
        <translation>%1: fehlgeschlagen bei %2 – %3</translation>
    </message>
</context>
<context>
    <name>tarvo::UpdateEngine</name>
    <message>
        <source>The controller came back with firmware %1 instead of %2: it did not take the new firmware. Keep it plugged in and run the update again. If this happens again, contact support.</source>
        <translation>Der Controller meldet sich mit Firmware %1 statt %2 zurück: Er hat die neue Firmware nicht übernommen. Lassen Sie ihn eingesteckt und starten Sie die Aktualisierung erneut. Wenn das wieder passiert, wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>it is not a USB drive</source>
        <translation>es ist kein USB-Laufwerk</translation>
    </message>
    <message>
        <source>it holds %1 MiB; the controller&apos;s drive holds at most %2 MiB</source>
        <translation>es fasst %1 MiB; das Laufwerk des Controllers fasst höchstens %2 MiB</translation>
    </message>
    <message>
        <source>it holds other files, such as &quot;%1&quot;</source>
        <translation>es enthält andere Dateien, etwa „%1“</translation>
    </message>
    <message>
        <source>its contents cannot be read: %1</source>
        <translation>sein Inhalt kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>A drive named &quot;%1&quot; was found at %2, but it does not look like the controller (%3). Nothing was written to it.</source>
        <translation>Unter %2 wurde ein Laufwerk namens „%1“ gefunden, aber es sieht nicht wie der Controller aus (%3). Es wurde nichts darauf geschrieben.</translation>
    </message>
    <message>
        <source>Finishing the interrupted update to %1</source>
        <translation>Die unterbrochene Aktualisierung auf %1 wird abgeschlossen</translation>
    </message>
    <message>
        <source>Erasing – %1 s left</source>
        <translation>Löschen – noch %1 s</translation>
    </message>
    <message>
        <source>Waiting for the controller&apos;s drive CRP DISABLE…</source>
        <translation>Warten auf das Laufwerk CRP DISABLE des Controllers …</translation>
    </message>
    <message>
        <source>Writing firmware…</source>
        <translation>Firmware wird geschrieben …</translation>
    </message>
    <message>
        <source>Downloading…</source>
        <translation>Wird heruntergeladen …</translation>
    </message>
    <message>
        <source>Downloading – %1%</source>
        <translation>Wird heruntergeladen – %1 %</translation>
    </message>
    <message>
        <source>erase</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>transfer</source>
        <translation>Übertragung</translation>
    </message>
    <message>
        <source>final step</source>
        <translation>letzter Schritt</translation>
    </message>
    <message>
        <source>firmware write</source>
        <translation>Schreiben der Firmware</translation>
    </message>
    <message>
        <source>verification</source>
        <translation>Prüfung</translation>
    </message>
    <message>
        <source>Step that failed: %1.</source>
        <translation>Fehlgeschlagener Schritt: %1.</translation>
    </message>
    <message>
        <source>If it fails again, press Copy details and send them to support.</source>
        <translation>Wenn es erneut fehlschlägt, drücken Sie „Details kopieren“ und senden Sie sie an den Support.</translation>
    </message>
    <message>
        <source>this computer has no network connection</source>
        <translation>dieser Computer hat keine Netzwerkverbindung</translation>
    </message>
    <message>
        <source>Connect it to the internet, then press UPDATE TO NEWEST again.</source>
        <translation>Verbinden Sie ihn mit dem Internet und drücken Sie dann erneut NEUESTE INSTALLIEREN.</translation>
    </message>
    <message>
        <source>the server answered %1</source>
        <translation>der Server antwortete %1</translation>
    </message>
    <message>
        <source>The release may have been withdrawn. Press UPDATE TO NEWEST to try again later; if this keeps happening, contact support.</source>
        <translation>Die Version wurde möglicherweise zurückgezogen. Drücken Sie später erneut NEUESTE INSTALLIEREN; wenn das weiterhin passiert, wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>the firmware server cannot be reached</source>
        <translation>der Firmware-Server ist nicht erreichbar</translation>
    </message>
    <message>
        <source>The network works, but the server does not answer. Press UPDATE TO NEWEST to try again in a few minutes; if this keeps happening, contact support.</source>
        <translation>Das Netzwerk funktioniert, aber der Server antwortet nicht. Drücken Sie in einigen Minuten erneut NEUESTE INSTALLIEREN; wenn das weiterhin passiert, wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>the download broke off (%1)</source>
        <translation>der Download brach ab (%1)</translation>
    </message>
    <message>
        <source>Press UPDATE TO NEWEST to try again.</source>
        <translation>Drücken Sie NEUESTE INSTALLIEREN, um es erneut zu versuchen.</translation>
    </message>
    <message>
        <source>Press UPDATE TO NEWEST to try again; if this keeps happening, contact support.</source>
        <translation>Drücken Sie NEUESTE INSTALLIEREN, um es erneut zu versuchen; wenn das weiterhin passiert, wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>Could not download firmware %1: %2.</source>
        <translation>Firmware %1 konnte nicht heruntergeladen werden: %2.</translation>
    </message>
    <message>
        <source>Downloading firmware %1…</source>
        <translation>Firmware %1 wird heruntergeladen …</translation>
    </message>
    <message>
        <source>Update complete!</source>
        <translation>Aktualisierung abgeschlossen!</translation>
    </message>
    <message>
        <source>The controller now runs firmware %1.</source>
        <translation>Der Controller läuft jetzt mit Firmware %1.</translation>
    </message>
    <message>
        <source>Update failed</source>
        <translation>Aktualisierung fehlgeschlagen</translation>
    </message>
    <message>
        <source>The controller&apos;s drive &quot;%1&quot; could not be mounted (%2). Open it in your file manager, or mount it by hand as the README describes; the update then goes on.</source>
        <translation>Das Laufwerk „%1“ des Controllers konnte nicht eingebunden werden (%2). Öffnen Sie es im Dateimanager oder binden Sie es wie in der README beschrieben von Hand ein; die Aktualisierung geht dann weiter.</translation>
    </message>
    <message>
        <source>The tool cannot watch the USB bus, so it cannot find the controller. Close the tool and start it again. If this happens again, contact support.</source>
        <translation>Das Programm kann den USB-Bus nicht überwachen und findet den Controller deshalb nicht. Schließen Sie das Programm und starten Sie es neu. Wenn das wieder passiert, wenden Sie sich an den Support.</translation>
    </message>
    <message>
        <source>Sending firmware – %1% of the image sent, about %2 s left</source>
        <translation>Firmware wird gesendet – %1 % des Abbilds gesendet, noch etwa %2 s</translation>
    </message>
    <message>
        <source>Plug it in again, wait until the window shows its firmware version, then press UPDATE TO NEWEST to start over.</source>
        <translation>Schließen Sie ihn wieder an, warten Sie, bis das Fenster seine Firmware-Version zeigt, und drücken Sie dann NEUESTE INSTALLIEREN, um neu zu beginnen.</translation>
    </message>
    <message>
        <source>The controller was unplugged or stopped answering while it was being erased.</source>
        <translation>Der Controller wurde beim Löschen getrennt oder hat nicht mehr geantwortet.</translation>
    </message>
    <message>
        <source>The controller was unplugged or stopped answering while the firmware image was sent.</source>
        <translation>Der Controller wurde beim Senden des Firmware-Abbilds getrennt oder hat nicht mehr geantwortet.</translation>
    </message>
    <message>
        <source>The controller was gone when the command to restart as its drive CRP DISABLE was due.</source>
        <translation>Der Controller war nicht mehr da, als der Befehl zum Neustart als Laufwerk CRP DISABLE fällig war.</translation>
    </message>
    <message>
        <source>Plug it in again, wait until the window shows its firmware version, then press OK: the command is sent again.</source>
        <translation>Schließen Sie ihn wieder an, warten Sie, bis das Fenster seine Firmware-Version zeigt, und drücken Sie dann OK: Der Befehl wird erneut gesendet.</translation>
    </message>
    <message>
        <source>The firmware could not be written onto the controller&apos;s drive CRP DISABLE.</source>
        <translation>Die Firmware konnte nicht auf das Laufwerk CRP DISABLE des Controllers geschrieben werden.</translation>
    </message>
    <message>
        <source>Keep this tool open, unplug the controller and plug it in again: the firmware is written again when its drive appears.</source>
        <translation>Lassen Sie dieses Programm geöffnet, trennen Sie den Controller und schließen Sie ihn wieder an: Die Firmware wird erneut geschrieben, sobald sein Laufwerk erscheint.</translation>
    </message>
</context>
<context>
    <name>tarvo::ViewController</name>
    <message>
        <source>Internet connection required to update to previous</source>
        <translation>Für eine ältere Version ist eine Internetverbindung nötig</translation>
    </message>
    <message>
        <source>Update complete!</source>
        <translation>Aktualisierung abgeschlossen!</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Update Fail!
</source>
        <translation>Aktualisierung fehlgeschlagen!
</translation>
    </message>
    <message>
        <source>Closes the update tool</source>
        <translation>Schließt das Aktualisierungsprogramm</translation>
    </message>
    <message>
        <source>Acknowledges the failed update</source>
        <translation>Bestätigt die fehlgeschlagene Aktualisierung</translation>
    </message>
    <message>
        <source>Starts the update shown above</source>
        <translation>Startet die oben gezeigte Aktualisierung</translation>
    </message>
    <message>
        <source>CANCEL</source>
        <translation>ABBRECHEN</translation>
    </message>
    <message>
        <source>Goes back without updating</source>
        <translation>Kehrt ohne Aktualisierung zurück</translation>
    </message>
    <message>
        <source>UPDATE TO NEWEST</source>
        <translation>NEUESTE INSTALLIEREN</translation>
    </message>
    <message>
        <source>Prepares the newest firmware release and asks before installing it</source>
        <translation>Bereitet die neueste Firmware vor und fragt vor der Installation nach</translation>
    </message>
    <message>
        <source>UPDATE TO PREVIOUS</source>
        <translation>ÄLTERE WÄHLEN</translation>
    </message>
    <message>
        <source>Lets you choose an earlier release or firmware files from your disk</source>
        <translation>Lässt Sie eine ältere Version oder Firmware-Dateien von Ihrem Datenträger wählen</translation>
    </message>
    <message>
        <source>Update progress</source>
        <translation>Fortschritt der Aktualisierung</translation>
    </message>
    <message>
        <source>How far the firmware update has come</source>
        <translation>Wie weit die Firmware-Aktualisierung ist</translation>
    </message>
    <message>
        <source>Shows the version of this tool</source>
        <translation>Zeigt die Version dieses Programms</translation>
    </message>
    <message>
        <source>About %1</source>
        <translation>Über %1</translation>
    </message>
    <message>
        <source>Tarvo Remote Firmware Update %1</source>
        <translation>Tarvo Remote Firmware-Aktualisierung %1</translation>
    </message>
    <message>
        <source>Built-in firmware release: %1 (%2)
Support log: %3</source>
        <translation>Eingebaute Firmware-Version: %1 (%2)
Support-Protokoll: %3</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Stops the download and puts the window back</source>
        <translation>Bricht den Download ab und stellt das Fenster wieder her</translation>
    </message>
    <message>
        <source>Puts what support needs about this failure on the clipboard</source>
        <translation>Legt ab, was der Support zu diesem Fehler braucht, in die Zwischenablage</translation>
    </message>
    <message>
        <source>Tarvo Remote Firmware Update - %1</source>
        <translation>Tarvo Remote Firmware-Aktualisierung - %1</translation>
    </message>
    <message>
        <source>Copy details</source>
        <translation>Details kopieren</translation>
    </message>
    <message>
        <source>Copied</source>
        <translation>Kopiert</translation>
    </message>
    <message>
        <source>Opens a window that updates all attached controllers</source>
        <translation></translation>
    </message>
</context>
</TS>
