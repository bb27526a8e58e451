' What a script client sees of the installed classes: the preview object through
' its type library, the other two classes as objects without IDispatch.
Set preview = CreateObject("ItemPlugin.ItemPreview.1")
WScript.Echo "ItemPlugin.ItemPreview.1: " & TypeName(preview)
On Error Resume Next
For Each progId In Array("ItemPlugin.ItemFormat.1", "ItemPlugin.ItemFile.1")
    Err.Clear
    Set instance = CreateObject(progId)
    WScript.Echo progId & ": " & Err.Number & " " & Err.Description
Next
