module example

go 1.19

require hushmask v0.0.0

replace hushmask => ../../go
