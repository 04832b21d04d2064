' IViewer from VBScript: small integers arrive as VT_I2, variables by reference, property reads
' with both the method and the property-get flag.
Option Explicit
Dim dir, failures, v, n, p, r
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

' The error number the last statement raised (0 for none), clearing it.
Function LastError()
    LastError = Err.Number
    Err.Clear
End Function

'' The host's CreateObject: Wine's VBScript CreateObject refuses every object that takes a site
' (IObjectWithSite) when the host offers no IServiceProvider, as cscript does not.
Set v = WScript.CreateObject("Narvo.Viewer")

' Names in any letter case; a property read.
Check "lower case", v.getsha1(dir & "abc.txt"), "a9993e364706816aba3e25717850c26c9cd0d89d"
Check "upper case", v.GETCRC32(dir & "abc.txt"), CLng(891568578)
Check "new option word", v.InternetOption, CLng(0)

' Small integers (VT_I2) and variables (by reference) are converted.
v.InternetOption = 5
Check "put of a small integer", v.InternetOption, CLng(5)
n = 300
v.InternetOption = n
Check "put of a variable", v.InternetOption, CLng(300)
Check "integers by reference", v.SetColumnWidth(n, n), CLng(0)
p = dir & "abc.txt"
Check "text by reference", v.GetSHA1(p), "a9993e364706816aba3e25717850c26c9cd0d89d"
v.ViewFilterExclude = 77
Check "number to text", v.ViewFilterExclude, "77"
Check "decimal text to integer", v.GetColumnWidth("2"), CLng(0)

' The CRC-32 is unsigned; scripts see its bits as a signed number.
Check "crc of ff ff ff ff", v.GetCRC32(dir & "ff.bin"), CLng(-1)

' Wrong counts, mismatched types, a put to a read-only property.
On Error Resume Next
r = v.GetSHA1()
Check "too few arguments", LastError(), CLng(450)
r = v.GetWindowWidth(1, 2)
Check "too many arguments", LastError(), CLng(450)
v.DocumentRoot = "x"
Check "put to DocumentRoot", LastError(), CLng(450)
r = v.SetColumnWidth("abc", 1)
Check "letters are no integer", LastError(), CLng(13)
On Error GoTo 0
Check "option kept after failures", v.InternetOption, CLng(300)

' Extraction.
Check "extract all", v.ExtractAll("zip", dir & "docs.zip", dir & "out\", 0), CLng(0)
Check "unsupported format", v.ExtractAll("7z", dir & "docs.zip", dir & "out\", 0), CLng(500)

' The archive view on a control that no container activated: the listing is read without a list
' to fill.
Check "listed without a window", v.ViewArchive("ZIP", dir & "list.zip", 0), CLng(0)
n = 12345
p = dir & "empty.zip"
Check "archive arguments by reference", v.ViewArchive("zip", p, n), CLng(0)
Check "other archive formats", v.ViewArchive("RAR", dir & "list.zip", 0), CLng(500)
Check "no archive format", v.ViewArchive(Empty, dir & "list.zip", 0), CLng(500)
v.ViewFilterExclude = Empty
Check "empty filter", v.ViewFilterExclude, ""
Check "listing with an empty filter", v.ViewArchive("Zip", dir & "list.zip", 0), CLng(0)

If failures > 0 Then
    WScript.Echo failures & " checks failed"
    WScript.Quit 1
End If
WScript.Echo "all checks passed"
WScript.Quit 0
