@echo off
rem Started by the command RUN of update 1 on Windows, in place of a
rem vendor's set-up program: writes a marker file (named by the first
rem argument) into the folder it was started in.
echo Merivane set-up ran at %DATE% %TIME% in %CD%> "%~1"
