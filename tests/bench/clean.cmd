@echo off
rem An administrator's cleaning script: the removals of zqclean.ini (in the current folder)
rem done with rd /s /q, del and reg delete. Run it with the 64-bit cmd, so that reg works on
rem the 64-bit registry view. Prints the time of each step on stderr.
rem Written for Wine's cmd as it is: no substrings of !delayed! variables (only of %plain%
rem ones, hence the subroutines), FOR variables pasted into the command text before it is
rem parsed (hence no quotes from file contents in a command), a FOR that does not expand a
rem quoted wildcard, and a findstr that does nothing (the INF files are scanned with find, a
rem hundred files per call, one call per text).
setlocal enabledelayedexpansion
set "searchdirs="
for %%d in ("%PATH:;=" "%") do set "searchdirs=!searchdirs! "%%~d""
set "texts="
set "infdir=%SystemRoot%\inf"
set "tmpfile=%TEMP%\zqbench-find.txt"

>&2 echo start %time%
rem First pass: the folders to search ([exfolders], [folders] and their (x86) twins).
set "sec="
for /f "usebackq delims=" %%l in ("zqclean.ini") do (set "line=%%l" & call :collect)
rem Then one pass per section, in the cleaner's order.
for %%s in (infs drivers files maskedfiles folders registry) do (
    >&2 echo %%s !time!
    set "want=%%s"
    set "sec="
    for /f "usebackq delims=" %%l in ("zqclean.ini") do (set "line=%%l" & call :entry)
    if "%%s"=="drivers" call :scaninfs
)
>&2 echo end %time%
del /f /q "%tmpfile%" >nul 2>&1
endlocal
exit /b 0

:collect
set "e=%line%"
if "%e:~0,1%"=="[" (set "sec=%e%" & goto :eof)
if /i "%sec%"=="[exfolders]" set "searchdirs=%searchdirs% "%e%""
if /i not "%sec%"=="[folders]" goto :eof
call :folderpath
set "searchdirs=%searchdirs% "%f%""
if not "%t%"=="%f%" set "searchdirs=%searchdirs% "%t%""
goto :eof

rem f: the [folders] entry e up to its first "=", its %variables% expanded by a child cmd;
rem t: its twin below Program Files (x86).
:folderpath
for /f "delims==" %%a in ("%e%") do set "f=%%a"
for /f "delims=" %%a in ('echo %f%') do set "f=%%a"
set "t=%f:Program Files\=Program Files (x86)\%"
goto :eof

:entry
set "e=%line%"
if "%e:~0,1%"=="[" (set "sec=%e%" & goto :eof)
if /i not "%sec%"=="[%want%]" goto :eof
goto :do%want%

:doinfs
set "texts=%texts% "%e%""
goto :eof

:dodrivers
set "texts=%texts% "%e%""
reg delete "HKLM\SYSTEM\CurrentControlSet\Services\%e%" /f >nul 2>&1
goto :eof

:dofiles
if not "%e:\=%"=="%e%" (del /f /q "%e%" >nul 2>&1 & goto :eof)
call :pathsearch "%e%"
for %%d in (%searchdirs%) do if exist "%%~d\%e%" del /f /q "%%~d\%e%" >nul 2>&1
goto :eof

:pathsearch
if not "%~$PATH:1"=="" del /f /q "%~$PATH:1" >nul 2>&1
goto :eof

:domaskedfiles
for %%d in (%searchdirs%) do if exist "%%~d\%e%" del /f /q "%%~d\%e%" >nul 2>&1
goto :eof

:dofolders
call :folderpath
if exist "%f%\" rd /s /q "%f%"
if not "%t%"=="%f%" if exist "%t%\" rd /s /q "%t%"
goto :eof

:doregistry
if "%e:~-1%"==":" (reg delete "%e:~0,-1%" /ve /f >nul 2>&1 & goto :eof)
set "k=%e%"
set "v="
for /f "tokens=1* delims=:" %%a in ("%e%") do (set "k=%%a" & set "v=%%b")
if defined v (reg delete "%k%" /v "%v%" /f >nul 2>&1) else (reg delete "%k%" /f >nul 2>&1)
goto :eof

rem Every INF file that holds one of the texts goes, with its .pnf.
:scaninfs
>&2 echo scaninfs %time%
for %%t in (%texts%) do call :scantext %%t
goto :eof

:scantext
set "list="
set /a n=0
for %%f in (%infdir%\*.inf) do (
    set "list=!list! "%%f""
    set /a n+=1
    if !n! geq 100 (call :findbatch %1 & set "list=" & set /a n=0)
)
if defined list call :findbatch %1
goto :eof

rem find writes "---------- FILE" before each file and then the file's matching lines.
:findbatch
find %1 %list% >"%tmpfile%" 2>nul
set "cur="
for /f "usebackq delims=" %%l in ("%tmpfile%") do (
    set "line=%%l"
    call :findline
)
goto :eof

:findline
set "line=%line:"=%"
if "%line:~0,11%"=="---------- " (set "cur=%line:~11%" & goto :eof)
if not defined cur goto :eof
del /f /q "%cur%" >nul 2>&1
del /f /q "%cur:~0,-3%pnf" >nul 2>&1
set "cur="
goto :eof
