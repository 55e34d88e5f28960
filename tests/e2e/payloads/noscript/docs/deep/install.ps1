Write-Output "too deep to be found"
