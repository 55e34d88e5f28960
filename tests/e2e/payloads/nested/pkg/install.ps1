# The new payload's script, one level down: the one the setup must run.
Write-Output "installing"
