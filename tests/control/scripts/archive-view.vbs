' ViewArchive and ViewFilterExclude from VBScript, on a control that no container activated: the
' listing is read without a list to fill, and the arguments arrive as VBScript sends them.
Option Explicit
Dim dir, failures, v, format, path, opt
dir = WScript.Arguments(0)
failures = 0

Sub Check(name, actual, expected)
    If VarType(actual) <> VarType(expected) Then
        failures = failures + 1
        WScript.Echo "FAIL " & name & ": got type " & VarType(actual) & ", expected type " & VarType(expected)
    ElseIf actual <> expected Then
        failures = failures + 1
        WScript.Echo "FAIL " & name & ": got " & actual & ", expected " & expected
    End If
End Sub

Set v = CreateObject("Narvo.Viewer")
Check "listed without a window", v.ViewArchive("ZIP", dir & "list.zip", 0), CLng(0)
format = "zip"
path = dir & "empty.zip"
opt = 12345
Check "variables by reference", v.ViewArchive(format, path, opt), CLng(0)
Check "other formats", v.ViewArchive("RAR", dir & "list.zip", 0), CLng(500)
Check "no format", v.ViewArchive(Empty, dir & "list.zip", 0), CLng(500)

Check "filter starts empty", v.ViewFilterExclude, ""
v.ViewFilterExclude = ".tmp|~"
Check "filter as stored", v.ViewFilterExclude, ".tmp|~"
v.ViewFilterExclude = Empty
Check "empty filter", v.ViewFilterExclude, ""
Check "listing with an empty filter", v.ViewArchive("Zip", dir & "list.zip", 0), CLng(0)

If failures > 0 Then
    WScript.Echo failures & " checks failed"
    WScript.Quit 1
End If
WScript.Echo "all checks passed"
WScript.Quit 0
