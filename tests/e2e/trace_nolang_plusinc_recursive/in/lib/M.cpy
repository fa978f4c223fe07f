       ++INCLUDE M
