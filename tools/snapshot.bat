@echo off
rem Takes a snapshot of this machine for a rehearsal of the Quendal driver uninstaller:
rem
rem   snapshot FOLDER            writes the snapshot into FOLDER (created when missing)
rem   snapshot FOLDER win98      the same, with the Windows 98 registry branches, for a machine
rem                              whose command interpreter reports Windows NT (a Wine prefix
rem                              that plays Windows 98 to one program)
rem   snapshot FOLDER nt         the same, with the Windows 2000 family's branches
rem
rem The family word may be written in any letter case. Then, on any Linux machine:
rem   uninstall-sim --snapshot FOLDER [WORD]
rem
rem Run it as administrator (on Windows Vista and later from an elevated command prompt), so
rem that regedit can read every key. A relative FOLDER is taken from the current folder, and
rem the closing line names the full path (an elevated prompt starts in the system folder).
rem A snapshot taken again into the same FOLDER replaces the earlier one whole.
rem
rem It uses only what Windows 98 (COMMAND.COM) and Windows 2000 to 11 (CMD.EXE) have built
rem in: the commands ver, dir /b /a-d, attrib, copy, del, md, echo, if, goto and rem, regedit
rem /e, and on Windows 98 start /w; on the Windows 2000 family also setlocal, set and %~f1.
rem It relies on this:
rem   - %windir% names the Windows folder on every version; %OS% is Windows_NT on the
rem     Windows 2000 family only; the system folder is %windir%\system32 there and
rem     %windir%\SYSTEM on Windows 98;
rem   - on 64-bit Windows a 32-bit CMD.EXE (the one 32-bit consoles and deployment agents
rem     start: %windir%\SysWOW64\cmd.exe) has PROCESSOR_ARCHITEW6432 set and sees
rem     %windir%\system32 redirected to SysWOW64; it reaches the real system32 as
rem     %windir%\Sysnative (Vista and later; XP x64 only with an update). The snapshot then
rem     reads the system folder through Sysnative and WHERE.TXT says so in a "wow64" line;
rem   - regedit /e FILE KEY exports one branch: REGEDIT4 text on Windows 98, Unicode
rem     "Windows Registry Editor Version 5.00" on the Windows 2000 family; CMD.EXE waits for
rem     it in a batch file, COMMAND.COM only when it is started with start /w;
rem   - dir /b /a-d lists the names (long names on Windows 98 too) of all files, hidden and
rem     system ones included; attrib lists every file with its attribute letters and full
rem     path; both print a "not found" message for an empty folder, which uninstall-sim
rem     recognises;
rem   - copies keep the read-only attribute of their INF file: the copies of an earlier
rem     snapshot lose it (attrib -r, or del /f) before they are deleted;
rem   - COMMAND.COM writes its complaints (md of a folder that exists, copy of nothing) to
rem     standard output, which "> nul" silences; CMD.EXE writes them to standard error, which
rem     only CMD.EXE can redirect ("2> nul"), so the two have sections of their own;
rem   - on Windows 98: no setlocal, no variables of its own (COMMAND.COM's environment may be
rem     full), no "if exist FOLDER\nul" tests: md of a folder that exists only complains, and
rem     a missing folder just gives empty listings.
rem Under Wine it runs in Wine's cmd the same way.

if "%1"=="" goto usage
if "%OS%"=="Windows_NT" goto cmd

rem ---- Windows 98: COMMAND.COM ------------------------------------------------------------
md %1 > nul
ver > %1\VER.TXT
echo windows %windir%> %1\WHERE.TXT
echo family win98>> %1\WHERE.TXT
echo system %windir%\SYSTEM>> %1\WHERE.TXT
start /w regedit /e %1\SYSTEM.REG HKEY_LOCAL_MACHINE\System
start /w regedit /e %1\ENUM.REG HKEY_LOCAL_MACHINE\Enum
dir /b /a-d %windir%\SYSTEM > %1\SYSTEM.DIR
attrib %windir%\SYSTEM\*.* > %1\SYSTEM.ATT
dir /b /a-d %windir%\SYSTEM\drivers > %1\DRIVERS.DIR
attrib %windir%\SYSTEM\drivers\*.* > %1\DRIVERS.ATT
dir /b /a-d %windir%\inf > %1\INF.DIR
attrib %windir%\inf\*.* > %1\INF.ATT
dir /b /a-d %windir%\inf\other > %1\OTHER.DIR
attrib %windir%\inf\other\*.* > %1\OTHER.ATT
md %1\OEMINF > nul
if exist %1\OEMINF\*.inf attrib -r %1\OEMINF\*.inf
if exist %1\OEMINF\*.inf del %1\OEMINF\*.inf
copy %windir%\inf\oem*.inf %1\OEMINF > nul
md %1\OTHERINF > nul
if exist %1\OTHERINF\*.inf attrib -r %1\OTHERINF\*.inf
if exist %1\OTHERINF\*.inf del %1\OTHERINF\*.inf
copy %windir%\inf\other\*.inf %1\OTHERINF > nul
echo Snapshot written to %1. Rehearse with: uninstall-sim --snapshot %1
goto end

rem ---- The Windows 2000 family: CMD.EXE ---------------------------------------------------
:cmd
setlocal
set SNAP=%~f1
set FAMILY=
if "%2"=="" set FAMILY=nt
if /i "%2"=="nt" set FAMILY=nt
if /i "%2"=="win98" set FAMILY=win98
if "%FAMILY%"=="" goto usage
set READ=%windir%\system32
if "%PROCESSOR_ARCHITEW6432%"=="" goto folder
if not exist %windir%\Sysnative\cmd.exe goto nosysnative
set READ=%windir%\Sysnative

:folder
if not exist "%SNAP%\" md "%SNAP%"
if not exist "%SNAP%\" goto end
for %%F in (VER.TXT WHERE.TXT SYSTEM.REG ENUM.REG INF.DIR INF.ATT OTHER.DIR OTHER.ATT SYSTEM.DIR SYSTEM.ATT DRIVERS.DIR DRIVERS.ATT) do if exist "%SNAP%\%%F" del "%SNAP%\%%F"
for %%F in (OEMINF OTHERINF) do if exist "%SNAP%\%%F\*.inf" del /f /q "%SNAP%\%%F\*.inf"
ver > "%SNAP%\VER.TXT"
echo windows %windir%> "%SNAP%\WHERE.TXT"
echo family %FAMILY%>> "%SNAP%\WHERE.TXT"
echo system %windir%\system32>> "%SNAP%\WHERE.TXT"
if not "%READ%"=="%windir%\system32" echo wow64 %READ%>> "%SNAP%\WHERE.TXT"
if "%FAMILY%"=="win98" goto cmd98
regedit /e "%SNAP%\SYSTEM.REG" HKEY_LOCAL_MACHINE\SYSTEM
goto cmdfolders

:cmd98
regedit /e "%SNAP%\SYSTEM.REG" HKEY_LOCAL_MACHINE\System
regedit /e "%SNAP%\ENUM.REG" HKEY_LOCAL_MACHINE\Enum
dir /b /a-d %windir%\inf\other > "%SNAP%\OTHER.DIR" 2> nul
attrib %windir%\inf\other\*.* > "%SNAP%\OTHER.ATT" 2> nul
if not exist "%SNAP%\OTHERINF\" md "%SNAP%\OTHERINF"
if exist %windir%\inf\other\*.inf copy %windir%\inf\other\*.inf "%SNAP%\OTHERINF" > nul

:cmdfolders
dir /b /a-d %READ% > "%SNAP%\SYSTEM.DIR" 2> nul
attrib %READ%\*.* > "%SNAP%\SYSTEM.ATT" 2> nul
dir /b /a-d %READ%\drivers > "%SNAP%\DRIVERS.DIR" 2> nul
attrib %READ%\drivers\*.* > "%SNAP%\DRIVERS.ATT" 2> nul
dir /b /a-d %windir%\inf > "%SNAP%\INF.DIR" 2> nul
attrib %windir%\inf\*.* > "%SNAP%\INF.ATT" 2> nul
if not exist "%SNAP%\OEMINF\" md "%SNAP%\OEMINF"
if exist %windir%\inf\oem*.inf copy %windir%\inf\oem*.inf "%SNAP%\OEMINF" > nul
echo Snapshot written to %SNAP%. Copy the folder and rehearse with: uninstall-sim --snapshot FOLDER
if not "%READ%"=="%windir%\system32" echo This is a 32-bit command prompt: the system folder was read through %READ%.
goto end

:nosysnative
echo This is a 32-bit command prompt on 64-bit Windows: it sees %windir%\SysWOW64 in place of
echo %windir%\system32 and has no %windir%\Sysnative to reach the real one. Start the 64-bit
echo command prompt (%windir%\system32\cmd.exe, from Explorer or the Start menu) and run the
echo snapshot from there. Nothing was written.
goto end

:usage
echo usage: snapshot FOLDER [win98 or nt]
echo Writes what the Quendal driver uninstaller reads into FOLDER, for uninstall-sim.

:end
