# Stand-in installer script: the end-to-end tests run a stand-in PowerShell that never reads it.
Write-Output "installing"
