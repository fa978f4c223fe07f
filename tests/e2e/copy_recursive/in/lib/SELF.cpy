       COPY SELF.
