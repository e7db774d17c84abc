@echo off
rem Takes a snapshot of this machine for a rehearsal of the Quendal driver uninstaller:
rem
rem   snapshot FOLDER            writes the snapshot into FOLDER (created when missing)
rem   snapshot FOLDER win98      the same, with the Windows 98 registry branches, for a machine
rem                              whose command interpreter reports Windows NT (a Wine prefix
rem                              that plays Windows 98 to one program)
rem   snapshot FOLDER nt         the same, with the Windows 2000 family's branches
rem
rem Then, on any Linux machine:  uninstall-sim --snapshot FOLDER [WORD]
rem
rem Run it as administrator (on Windows Vista and later from an elevated command prompt), so
rem that regedit can read every key. FOLDER is a path without blanks, such as C:\SNAP.
rem
rem It uses only what Windows 98 (COMMAND.COM) and Windows 2000 to 11 (CMD.EXE) have built
rem in: the commands ver, dir /b /a-d, attrib, copy, md, echo, if, goto and rem, regedit /e,
rem and on Windows 98 start /w. It relies on this:
rem   - %windir% names the Windows folder on every version; %OS% is Windows_NT on the
rem     Windows 2000 family only; the system folder is %windir%\system32 there and
rem     %windir%\SYSTEM on Windows 98;
rem   - regedit /e FILE KEY exports one branch: REGEDIT4 text on Windows 98, Unicode
rem     "Windows Registry Editor Version 5.00" on the Windows 2000 family; CMD.EXE waits for
rem     it in a batch file, COMMAND.COM only when it is started with start /w;
rem   - dir /b /a-d lists the names (long names on Windows 98 too) of all files, hidden and
rem     system ones included; attrib lists every file with its attribute letters and full
rem     path; both print a "not found" message for an empty folder, which uninstall-sim
rem     recognises;
rem   - no setlocal, no %~dp0, no delayed expansion, no variables of its own (COMMAND.COM's
rem     environment may be full), no "if exist FOLDER\nul" tests: md of a folder that exists
rem     only complains, and a missing folder just gives empty listings.
rem Under Wine it runs in Wine's cmd the same way.

if "%1"=="" goto usage
md %1 > nul

ver > %1\VER.TXT
echo windows %windir%> %1\WHERE.TXT

if "%2"=="win98" goto win98
if "%2"=="nt" goto nt
if "%OS%"=="Windows_NT" goto nt

:win98
echo family win98>> %1\WHERE.TXT
start /w regedit /e %1\SYSTEM.REG HKEY_LOCAL_MACHINE\System
start /w regedit /e %1\ENUM.REG HKEY_LOCAL_MACHINE\Enum
md %1\OTHERINF > nul
copy %windir%\inf\other\*.inf %1\OTHERINF > nul
dir /b /a-d %windir%\inf\other > %1\OTHER.DIR
attrib %windir%\inf\other\*.* > %1\OTHER.ATT
if "%OS%"=="Windows_NT" goto ntfolders
goto folders98

:nt
echo family nt>> %1\WHERE.TXT
regedit /e %1\SYSTEM.REG HKEY_LOCAL_MACHINE\SYSTEM

:ntfolders
echo system %windir%\system32>> %1\WHERE.TXT
dir /b /a-d %windir%\system32 > %1\SYSTEM.DIR
attrib %windir%\system32\*.* > %1\SYSTEM.ATT
dir /b /a-d %windir%\system32\drivers > %1\DRIVERS.DIR
attrib %windir%\system32\drivers\*.* > %1\DRIVERS.ATT
goto inf

:folders98
echo system %windir%\SYSTEM>> %1\WHERE.TXT
dir /b /a-d %windir%\SYSTEM > %1\SYSTEM.DIR
attrib %windir%\SYSTEM\*.* > %1\SYSTEM.ATT
dir /b /a-d %windir%\SYSTEM\drivers > %1\DRIVERS.DIR
attrib %windir%\SYSTEM\drivers\*.* > %1\DRIVERS.ATT

:inf
dir /b /a-d %windir%\inf > %1\INF.DIR
attrib %windir%\inf\*.* > %1\INF.ATT
md %1\OEMINF > nul
copy %windir%\inf\oem*.inf %1\OEMINF > nul
echo Snapshot written to %1. Rehearse with: uninstall-sim --snapshot %1
goto end

:usage
echo usage: snapshot FOLDER [win98 or nt]
echo Writes what the Quendal driver uninstaller reads into FOLDER, for uninstall-sim.

:end
